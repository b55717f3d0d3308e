# Extras of the archive tests: executables that carry the payload resource
# (type 260, id 134), and the packing tool driven from a test.
target_link_libraries(archive_resource_test PRIVATE qv_payload)
target_link_libraries(archive_tool_test PRIVATE qv_payload)
add_dependencies(archive_tool_test qvarchive)
target_compile_definitions(archive_tool_test PRIVATE QV_ARCHIVE_TOOL="$<TARGET_FILE:qvarchive>")
