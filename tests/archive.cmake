# Extras of the archive tests: executables that carry the small test payload
# (qv_test_payload: resource type 260, id 134, with fixed contents instead of
# the product's), and the packing tool driven from a test.
target_link_libraries(archive_resource_test PRIVATE qv_test_payload)
target_link_libraries(archive_tool_test PRIVATE qv_test_payload)
add_dependencies(archive_tool_test qvarchive)
target_compile_definitions(archive_tool_test PRIVATE QV_ARCHIVE_TOOL="$<TARGET_FILE:qvarchive>")
