# The INI settings file and where it lives.
qmx_gtest(qmx_unit_settings LABEL unit
  SOURCES
    unit/ini_file_test.cpp
  LIBS qmx::core)
