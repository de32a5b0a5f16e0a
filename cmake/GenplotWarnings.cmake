# Warnings are kept at zero; CI turns them into errors with GENPLOT_WERROR.
function(genplot_set_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${GENPLOT_WERROR}>:/WX>)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                               $<$<BOOL:${GENPLOT_WERROR}>:-Werror>)
    endif()
endfunction()

# Label extents and thickening truncate doubles to integers, and some values land within
# 1e-13 of an integer: every operation must be rounded on its own, in the written order.
function(genplot_set_exact_float target)
    if(NOT MSVC)
        target_compile_options(${target} PRIVATE -ffp-contract=off -fno-fast-math)
    else()
        target_compile_options(${target} PRIVATE /fp:precise)
    endif()
endfunction()
