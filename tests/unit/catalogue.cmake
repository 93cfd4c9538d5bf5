# Chip catalogue self-check and encoders, memory image, hex dump.
qmx_gtest(qmx_unit_catalogue LABEL unit
  SOURCES
    unit/catalogue_test.cpp
    unit/memory_image_test.cpp
    unit/hex_dump_test.cpp
  LIBS qmx::core qmx::image qmx::sim)
