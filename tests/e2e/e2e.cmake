# The host's real link code over a real pseudo-terminal against the simulator.
add_executable(qmx_try_open_port e2e/try_open_port.cpp)
target_link_libraries(qmx_try_open_port PRIVATE qmx::core)
qmx_strict(qmx_try_open_port)

qmx_gtest(qmx_e2e_link LABEL sim
  SOURCES e2e/link_e2e_test.cpp
  LIBS qmx::core qmx::sim)
target_compile_definitions(qmx_e2e_link PRIVATE QMX_TRY_OPEN_PORT="$<TARGET_FILE:qmx_try_open_port>")
add_dependencies(qmx_e2e_link qmx_try_open_port)

qmx_gtest(qmx_e2e_memory LABEL sim
  SOURCES e2e/program_memory_test.cpp e2e/program_setup_test.cpp e2e/library_memory_test.cpp
  LIBS qmx::core qmx::image qmx::sim)
