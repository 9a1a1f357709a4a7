# Warnings are set per target, never globally.
function(polyvant_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
                                             -Wno-missing-field-initializers)
    if(POLYVANT_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
