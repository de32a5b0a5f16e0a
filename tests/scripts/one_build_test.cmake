# The two set-up commands configure one build folder in turn: scripts/run_sample for the program,
# then scripts/run_tests for everything. This configures a scratch folder the same way, through
# scripts/configure_build, and checks that
#   - the program's configuration needs neither GoogleTest nor Google Benchmark, and
#   - the full configuration compiles every source of the program's with the very same command,
#     so the second command compiles only the tests and benchmarks.
file(REMOVE_RECURSE ${WORK_DIR})
set(configure ${SOURCE_DIR}/scripts/configure_build)

function(run_step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "step failed (${result}): ${ARGN}\n${out}\n${err}")
    endif()
endfunction()

# Reads compile_commands.json into <prefix>_files (the sources) and <prefix>_<n> (their commands).
function(read_commands prefix)
    file(READ ${WORK_DIR}/compile_commands.json json)
    string(JSON count LENGTH "${json}")
    set(files)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        string(JSON file GET "${json}" ${i} file)
        string(JSON command GET "${json}" ${i} command)
        list(APPEND files ${file})
        set(${prefix}_${i} "${command}" PARENT_SCOPE)
    endforeach()
    set(${prefix}_files ${files} PARENT_SCOPE)
endfunction()

run_step(bash ${configure} ${WORK_DIR} program -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
file(STRINGS ${WORK_DIR}/CMakeCache.txt looked_up REGEX "^(GTest|benchmark)_DIR:")
if(looked_up)
    message(FATAL_ERROR "the program's configuration looked for test libraries: ${looked_up}")
endif()
read_commands(program)

run_step(bash ${configure} ${WORK_DIR} all -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
read_commands(all)

set(program_sources 0)
set(index 0)
foreach(file IN LISTS program_files)
    if(file MATCHES "/tests/|/bench/")
        message(FATAL_ERROR "the program's configuration compiles ${file}")
    endif()
    if(file MATCHES "/tools/genplot/")
        math(EXPR program_sources "${program_sources} + 1")
    endif()
    list(FIND all_files ${file} at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the full configuration no longer compiles ${file}")
    endif()
    if(NOT program_${index} STREQUAL all_${at})
        message(FATAL_ERROR "${file} would be compiled twice:\n  program: ${program_${index}}\n"
                            "  all:     ${all_${at}}")
    endif()
    math(EXPR index "${index} + 1")
endforeach()
if(program_sources EQUAL 0)
    message(FATAL_ERROR "the program's configuration compiles no source of tools/genplot")
endif()
list(FILTER all_files INCLUDE REGEX "/tests/")
if(NOT all_files)
    message(FATAL_ERROR "the full configuration compiles no test")
endif()
list(LENGTH program_files shared)
message(STATUS "${shared} sources compiled alike by both configurations")
