# The dialogs' rules live in their own library.
target_link_libraries(fuzz_setup_controls PRIVATE vgdialogs)
