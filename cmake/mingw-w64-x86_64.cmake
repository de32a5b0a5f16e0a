# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The "-posix" compilers are the variant with std::thread and std::mutex (over winpthreads);
# the library's per-thread allocation pools and module state need them.
#
# Packages built with this toolchain (GoogleTest for the test suites) are found through
# CMAKE_PREFIX_PATH; nothing is ever taken from the build machine's own Linux prefixes.
#
# When wine is installed it becomes the emulator, so gtest_discover_tests and ctest run the
# test programs; without it everything still builds.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GENPLOT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GENPLOT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GENPLOT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GENPLOT_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the target's sysroot, and from any prefix the
# caller names in CMAKE_PREFIX_PATH (a prefix already inside a root is searched as is).
set(CMAKE_FIND_ROOT_PATH /usr/${GENPLOT_MINGW_TRIPLET})
if(CMAKE_PREFIX_PATH)
    list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ and GCC runtimes and winpthreads are linked in statically: a host loads
# genplot.dll on its own, without libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll
# beside it. Unwinding on x86-64 goes through the system's SEH tables, so an exception thrown
# in the DLL still reaches a catch in a host that carries its own copy of the runtime.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(GENPLOT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(GENPLOT_WINE)
    # WINEDEBUG=-all keeps wine's own diagnostics out of test discovery and test output.
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env WINEDEBUG=-all ${GENPLOT_WINE})
endif()
