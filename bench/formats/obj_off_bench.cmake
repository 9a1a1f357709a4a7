# OBJ and OFF timing program with the single-thread OBJ floor; obj_off_bench.sh runs it
# beside assimp on the generated meshes.
add_executable(obj_off_bench obj_off_bench.cpp)
target_link_libraries(obj_off_bench PRIVATE polyvant::model ${CMAKE_DL_LIBS})
target_include_directories(obj_off_bench PRIVATE ${POLYVANT_FAST_FLOAT_INCLUDE_DIR})
set_target_properties(obj_off_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
polyvant_set_warnings(obj_off_bench)
add_dependencies(obj_off_bench obj off)
