# Extra links for individual benchmarks (included by bench/CMakeLists.txt).
if(TARGET bench_compress)
  find_package(ZLIB REQUIRED)
  target_link_libraries(bench_compress PRIVATE ZLIB::ZLIB)
endif()
