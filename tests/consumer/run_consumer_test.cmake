# Installs the built library into a scratch prefix (never the configured one), then builds and
# runs the consumer program against it twice: once through find_package(genplot), once with
# nothing but the compiler and the flags pkg-config gives for genplot.pc, as a Makefile would.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run_step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "step failed (${result}): ${ARGN}\n${out}\n${err}")
    endif()
endfunction()

run_step(${CMAKE_COMMAND} --install ${GENPLOT_BINARY_DIR} --prefix ${prefix} --config ${BUILD_CONFIG})
run_step(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
         -DCMAKE_BUILD_TYPE=Release)
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_step(${WORK_DIR}/build/consumer)

# ---- pkg-config ------------------------------------------------------------------------------
file(GLOB_RECURSE pc_files ${prefix}/*/genplot.pc)
list(LENGTH pc_files pc_count)
if(NOT pc_count EQUAL 1)
    message(FATAL_ERROR "expected one installed genplot.pc below ${prefix}, found: ${pc_files}")
endif()
get_filename_component(pc_dir ${pc_files} DIRECTORY)

find_program(PKG_CONFIG_EXECUTABLE NAMES pkg-config pkgconf)
if(NOT PKG_CONFIG_EXECUTABLE)
    message(FATAL_ERROR "pkg-config is not installed (scripts/install_deps installs it)")
endif()
# Only the installed copy may answer: no other search path, no system folders left out.
set(pc_env ${CMAKE_COMMAND} -E env --unset=PKG_CONFIG_LIBDIR --unset=PKG_CONFIG_SYSROOT_DIR
    --unset=PKG_CONFIG_ALLOW_SYSTEM_CFLAGS --unset=PKG_CONFIG_ALLOW_SYSTEM_LIBS
    PKG_CONFIG_PATH=${pc_dir})
execute_process(COMMAND ${pc_env} ${PKG_CONFIG_EXECUTABLE} --cflags --libs genplot
                RESULT_VARIABLE result OUTPUT_VARIABLE pc_flags ERROR_VARIABLE err
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config --cflags --libs genplot failed (${result}): ${err}")
endif()
separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")

# Every folder the flags name must be a folder of this install: a file that still carries the
# configured prefix points a consumer at headers and a library that are not there (or, worse,
# at an older copy installed there).
get_filename_component(real_prefix ${prefix} REALPATH)
set(named_include FALSE)
set(named_library FALSE)
foreach(flag IN LISTS pc_flags)
    if(flag MATCHES "^-([IL])(.+)$")
        set(kind ${CMAKE_MATCH_1})
        get_filename_component(folder "${CMAKE_MATCH_2}" REALPATH)
        string(FIND "${folder}/" "${real_prefix}/" at)
        if(NOT at EQUAL 0 OR NOT IS_DIRECTORY "${folder}")
            message(FATAL_ERROR "pkg-config names ${flag}, not a folder of the install in "
                                "${prefix} (all flags: ${pc_flags})")
        endif()
        if(kind STREQUAL "I" AND EXISTS "${folder}/genplot.h")
            set(named_include TRUE)
        elseif(kind STREQUAL "L")
            set(named_library TRUE)
        endif()
    endif()
endforeach()
if(NOT named_include OR NOT named_library)
    message(FATAL_ERROR "pkg-config gives no include folder with genplot.h or no library "
                        "folder: ${pc_flags}")
endif()

# The compiler of the build under test, read from its cache.
file(STRINGS ${GENPLOT_BINARY_DIR}/CMakeCache.txt compiler_line REGEX "^CMAKE_CXX_COMPILER:[A-Z]+=")
string(REGEX REPLACE "^[^=]*=" "" cxx "${compiler_line}")
if(NOT cxx)
    message(FATAL_ERROR "no CMAKE_CXX_COMPILER in ${GENPLOT_BINARY_DIR}/CMakeCache.txt")
endif()
# The language level is the consumer's own choice; everything else comes from pkg-config.
set(pc_program ${WORK_DIR}/pkg-config/consumer)
file(MAKE_DIRECTORY ${WORK_DIR}/pkg-config)
run_step(${cxx} -std=c++17 ${CONSUMER_SOURCE_DIR}/main.cpp ${pc_flags} -o ${pc_program})
# pkg-config says nothing about where the loader finds a shared library: as a user would, the
# program runs with the installed library folder on the loader's path.
set(library_path ${prefix}/lib)
foreach(flag IN LISTS pc_flags)
    if(flag MATCHES "^-L(.+)$")
        set(library_path ${CMAKE_MATCH_1})
    endif()
endforeach()
run_step(${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${library_path}" ${pc_program})
