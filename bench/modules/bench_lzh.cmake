# The LZH benchmark (include(bench_lzh.cmake) from this folder's CMakeLists): the LHA module's
# extraction against lhasa, our encoder against gzip.
add_executable(bench_lzh ${CMAKE_CURRENT_LIST_DIR}/bench_lzh.cpp)
target_link_libraries(bench_lzh PRIVATE norvex_lzh ${CMAKE_DL_LIBS})
target_compile_definitions(bench_lzh PRIVATE NORVEX_BENCH_MODULE_DIR="${NORVEX_MODULE_DIR}")
add_dependencies(bench_lzh unlha32)
