# A process of the product line, started by the running-instance tests.
add_executable(instance_helper ${CMAKE_CURRENT_SOURCE_DIR}/helpers/instance_helper.cpp)
target_link_libraries(instance_helper PRIVATE quorvex_core)
qv_unicode_entry(instance_helper)
if(TARGET instance_objects_test)
  add_dependencies(instance_objects_test instance_helper)
endif()
# The recovery's tests run it as a registration run that outlived its installer.
if(TARGET run_recovery_test)
  add_dependencies(run_recovery_test instance_helper)
endif()
