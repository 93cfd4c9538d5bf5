# Serial numbers, their state file and the run log of production runs.
qmx_gtest(qmx_unit_production LABEL unit
  SOURCES
    unit/production_test.cpp
  LIBS qmx::production)
