# Intel HEX and raw binary files of the memory image, and the file calls under them.
# The Intel HEX cases also run srec_cat, srec_cmp and objcopy when they are installed.
qmx_gtest(qmx_unit_image_files LABEL unit
  SOURCES
    unit/intel_hex_test.cpp
    unit/binary_file_test.cpp
  LIBS qmx::image)
