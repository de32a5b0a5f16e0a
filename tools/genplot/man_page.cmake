# Writes the genplot(1) man page from the program's own help texts: help2man reads
# `genplot --help` and `genplot --version`, and each subcommand's `--help` goes into a
# SUBCOMMANDS section, so the page says exactly what the program says.
#
#   cmake -DGENPLOT_EXE=... -DHELP2MAN=... -DOUTPUT=genplot.1 -DSUBCOMMANDS=convert,check,...
#         -P man_page.cmake

get_filename_component(folder ${OUTPUT} DIRECTORY)
set(include_file ${folder}/genplot_subcommands.h2m)

string(REPLACE "," ";" SUBCOMMANDS "${SUBCOMMANDS}")
set(text "[SUBCOMMANDS]\n")
foreach(command IN LISTS SUBCOMMANDS)
    execute_process(COMMAND ${GENPLOT_EXE} ${command} --help
                    OUTPUT_VARIABLE help RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "genplot ${command} --help failed: ${result}")
    endif()
    # roff: a line may not start with a dot or a quote, backslashes are escapes, and a minus
    # sign (for options to be copied as typed) is \-.
    string(REPLACE "\\" "\\e" help "${help}")
    string(REPLACE "-" "\\-" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS ${command}\n.nf\n${help}.fi\n")
endforeach()
file(WRITE ${include_file} "${text}")

execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr
                        --name "convert, check, inspect, render and send generic plot files"
                        --section 1 --include ${include_file} --output ${OUTPUT} ${GENPLOT_EXE}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "help2man failed: ${result}")
endif()
