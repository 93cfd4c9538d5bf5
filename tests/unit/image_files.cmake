# Intel HEX, S-record and raw binary files of the memory image, the file calls under them, and the
# digests of the image. The Intel HEX and S-record cases also run srec_cat, srec_cmp and objcopy when
# they are installed.
qmx_gtest(qmx_unit_image_files LABEL unit
  SOURCES
    unit/intel_hex_test.cpp
    unit/binary_file_test.cpp
    unit/srecord_digests_test.cpp
  LIBS qmx::image)
