# 3D Studio and Lightwave import timing beside `assimp info` on the same files, in one run.
add_executable(3ds_lwo_bench 3ds_lwo_bench.cpp)
target_link_libraries(3ds_lwo_bench PRIVATE polyvant::format_3ds polyvant::format_lwo
                                            polyvant_format_obj)
target_compile_definitions(3ds_lwo_bench PRIVATE POLYVANT_TESTDATA_DIR="${POLYVANT_TESTDATA_DIR}")
set_target_properties(3ds_lwo_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
polyvant_set_warnings(3ds_lwo_bench)
