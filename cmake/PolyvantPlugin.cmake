# A format plug-in: a shared library in bin/plugin/ with hidden visibility, linking
# the scene model (and optionally the shared format helpers) and no GUI library.
#   polyvant_add_plugin(NAME name SOURCES ... [LIBRARIES ...] [NO_INSTALL])
function(polyvant_add_plugin)
    cmake_parse_arguments(ARG "NO_INSTALL;TEST_FIXTURE" "NAME;OUTPUT_DIRECTORY" "SOURCES;LIBRARIES" ${ARGN})
    add_library(${ARG_NAME} MODULE ${ARG_SOURCES})
    set(out_dir ${POLYVANT_PLUGIN_OUTPUT_DIR})
    if(ARG_OUTPUT_DIRECTORY)
        set(out_dir ${ARG_OUTPUT_DIRECTORY})
    endif()
    set_target_properties(${ARG_NAME} PROPERTIES
        PREFIX ""
        LIBRARY_OUTPUT_DIRECTORY ${out_dir}
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    target_link_libraries(${ARG_NAME} PRIVATE polyvant::model ${ARG_LIBRARIES})
    # The scene model and helpers come from static libraries, compiled for the host as
    # well: kept local, each plug-in calls its own copy directly, and a host or another
    # plug-in that defines the same names can never take their place.
    target_link_options(${ARG_NAME} PRIVATE -Wl,--exclude-libs,ALL)
    polyvant_set_warnings(${ARG_NAME})
    if(NOT POLYVANT_SANITIZE)
        # Every symbol a plug-in needs must be resolved at link time.
        target_link_options(${ARG_NAME} PRIVATE -Wl,--no-undefined)
    endif()
    if(NOT ARG_NO_INSTALL AND NOT ARG_TEST_FIXTURE)
        install(TARGETS ${ARG_NAME} LIBRARY DESTINATION ${POLYVANT_INSTALL_PLUGIN_DIR})
    endif()
endfunction()
