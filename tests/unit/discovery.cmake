# Discovery matching over fake lists and fake sysfs trees, plus a smoke test of /sys.
qmx_gtest(qmx_unit_discovery LABEL unit
  SOURCES
    unit/port_discovery_test.cpp
    unit/sysfs_provider_test.cpp
  LIBS qmx::core)
