# The mingw-w64 cross-build both Windows toolchain files share; they set
# CMAKE_SYSTEM_PROCESSOR and QMX_MINGW_TRIPLE first. The -posix compilers carry
# the winpthreads thread model that std::mutex and std::thread need.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QMX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QMX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QMX_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${QMX_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QMX_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(QMX_MINGW_OBJDUMP ${QMX_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump that reads the built DLL")

set(CMAKE_FIND_ROOT_PATH /usr/${QMX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtimes: the DLL and programs run on a bare Windows without
# libstdc++, libgcc or winpthread DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
