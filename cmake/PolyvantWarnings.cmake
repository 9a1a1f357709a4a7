# Warnings are set per target, never globally.
function(polyvant_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                                             -Wno-missing-field-initializers)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wshadow=local)
    endif()
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        # g++ 12 at -O2 reports std::string concatenation as an overlapping memcpy of
        # impossible sizes (a known false positive of its inliner).
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
    if(POLYVANT_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
