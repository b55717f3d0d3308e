# Extras of the framework and start-up tests: dialog templates of their own,
# and the installer itself for the tests that start it.
set(QV_STARTUP_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/startup)

foreach(test framework_dialog_test framework_messagebox_test)
  if(TARGET ${test})
    target_sources(${test} PRIVATE ${QV_STARTUP_TEST_DIR}/FrameworkTest.rc)
    target_include_directories(${test} PRIVATE ${QV_STARTUP_TEST_DIR})
  endif()
endforeach()
