# polyvant_add_plugin(NAME name SOURCES ... [LIBRARIES ...] [OUTPUT_DIRECTORY dir])
#
# Builds a plug-in library "<name>.so" against the installed SDK: C++20, hidden
# visibility (only the POLYVANT_EXPORT entry points are seen by the host), linked to
# Polyvant::model. Output goes to <build>/plugin/ unless OUTPUT_DIRECTORY says
# otherwise; copy the library into the viewer's plug-in directory to use it.
function(polyvant_add_plugin)
    cmake_parse_arguments(ARG "NO_INSTALL;TEST_FIXTURE" "NAME;OUTPUT_DIRECTORY"
                          "SOURCES;LIBRARIES" ${ARGN})
    if(NOT ARG_NAME OR NOT ARG_SOURCES)
        message(FATAL_ERROR "polyvant_add_plugin needs NAME and SOURCES")
    endif()
    set(out_dir ${CMAKE_BINARY_DIR}/plugin)
    if(ARG_OUTPUT_DIRECTORY)
        set(out_dir ${ARG_OUTPUT_DIRECTORY})
    endif()
    add_library(${ARG_NAME} MODULE ${ARG_SOURCES})
    set_target_properties(${ARG_NAME} PROPERTIES
        PREFIX ""
        LIBRARY_OUTPUT_DIRECTORY ${out_dir}
        CXX_STANDARD 20
        CXX_STANDARD_REQUIRED ON
        CXX_EXTENSIONS OFF
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(${ARG_NAME} PRIVATE Polyvant::model ${ARG_LIBRARIES})
    target_compile_options(${ARG_NAME} PRIVATE -Wall -Wextra)
    # Without it GCC may give the library a GNU_UNIQUE symbol, which keeps it mapped
    # after the host unloads it.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${ARG_NAME} PRIVATE -fno-gnu-unique)
    endif()
    # The model library's symbols stay local: the plug-in calls its own copy, whatever
    # the host or other plug-ins define.
    target_link_options(${ARG_NAME} PRIVATE -Wl,--exclude-libs,ALL)
    # Every symbol must resolve at link time, so the host's dlopen cannot fail on
    # one later. Sanitizer runtimes live in the host program, so not with those.
    if(NOT "${CMAKE_CXX_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS}" MATCHES "-fsanitize")
        target_link_options(${ARG_NAME} PRIVATE -Wl,--no-undefined)
    endif()
endfunction()
