# A process of the product line, started by the running-instance tests.
add_executable(instance_helper ${CMAKE_CURRENT_SOURCE_DIR}/helpers/instance_helper.cpp)
target_link_libraries(instance_helper PRIVATE quorvex_core)
qv_unicode_entry(instance_helper)
if(TARGET instance_objects_test)
  add_dependencies(instance_objects_test instance_helper)
endif()
