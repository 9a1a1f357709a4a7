# Installs the SDK component into a fresh prefix, builds the installed sample plug-in
# on its own against it, and has polyvant-scan import a file through the result.
# Run with -DBUILD_DIR= -DWORK_DIR= -DSCAN= -DGENERATOR= -DCXX_COMPILER= -DCXX_FLAGS=
# -DLINKER_FLAGS=
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                    ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}")
    endif()
    set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component sdk --prefix ${prefix})
foreach(installed include/polyvant/sdk.h include/polyvant/Obj3d.h share/polyvant/sample/SamplePlugin.cpp)
    if(NOT EXISTS ${prefix}/${installed})
        message(FATAL_ERROR "not installed: ${installed}")
    endif()
endforeach()

run(${CMAKE_COMMAND} -S ${prefix}/share/polyvant/sample -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_MODULE_LINKER_FLAGS=${LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
if(NOT EXISTS ${WORK_DIR}/build/plugin/sample.so)
    message(FATAL_ERROR "the standalone build made no plugin/sample.so")
endif()

file(WRITE ${WORK_DIR}/cube.sample "2\n")
run(${SCAN} --plugin-dir ${WORK_DIR}/build/plugin ${WORK_DIR}/cube.sample)
if(NOT run_output MATCHES "Sample Cube \\(\\*\\.sample\\)\": 1 mesh, 12 faces, 8 vertices")
    message(FATAL_ERROR "unexpected scan output:\n${run_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
message(STATUS "SDK installed, sample built standalone and imported")
