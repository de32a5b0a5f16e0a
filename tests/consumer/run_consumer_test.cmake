# Installs the built library into a scratch prefix, then configures, builds and runs the
# consumer program against it with find_package(genplot).
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

# The pkg-config file must name the installed include folder and library.
file(GLOB_RECURSE pc_files ${prefix}/*/genplot.pc)
if(NOT pc_files)
    message(FATAL_ERROR "genplot.pc was not installed")
endif()
