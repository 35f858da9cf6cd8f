# The engine is outside the system: its core library is linked in directly.
target_link_libraries(fuzz_engmod10_results PRIVATE engmod10core)
target_compile_definitions(fuzz_engmod10_results PRIVATE VG_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
# Coverage feedback from the engine itself, not only from this file.
target_compile_options(engmod10core PRIVATE -fsanitize=fuzzer-no-link)
