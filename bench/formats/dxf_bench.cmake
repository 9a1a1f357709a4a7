# DXF and Imagine import timing beside `assimp info` on the same files, in one run.
add_executable(dxf_iob_bench dxf_iob_bench.cpp)
target_link_libraries(dxf_iob_bench PRIVATE polyvant::format_dxf polyvant::format_iob
                                            polyvant_format_obj)
target_compile_definitions(dxf_iob_bench PRIVATE POLYVANT_TESTDATA_DIR="${POLYVANT_TESTDATA_DIR}")
set_target_properties(dxf_iob_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
polyvant_set_warnings(dxf_iob_bench)
