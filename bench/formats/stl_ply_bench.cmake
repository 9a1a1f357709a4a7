# STL and PLY timing programs (plain programs: each run is one import or export, and
# the memory figure needs a fresh process).
foreach(format stl ply)
    add_executable(${format}_bench ${format}_bench.cpp)
    target_link_libraries(${format}_bench PRIVATE polyvant::model ${CMAKE_DL_LIBS})
    set_target_properties(${format}_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    polyvant_set_warnings(${format}_bench)
    add_dependencies(${format}_bench ${format})
endforeach()
