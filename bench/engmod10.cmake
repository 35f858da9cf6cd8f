# The engine is outside the system: its core library is linked in directly.
target_link_libraries(bench_engmod10 PRIVATE engmod10core)
target_compile_definitions(bench_engmod10 PRIVATE VG_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
