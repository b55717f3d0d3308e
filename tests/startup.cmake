# Extras of the framework and start-up tests: dialog templates of their own,
# and the installer itself for the tests that start it.
set(QV_STARTUP_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/startup)

foreach(test framework_dialog_test framework_messagebox_test)
  if(TARGET ${test})
    target_sources(${test} PRIVATE ${QV_STARTUP_TEST_DIR}/FrameworkTest.rc)
    target_include_directories(${test} PRIVATE ${QV_STARTUP_TEST_DIR})
  endif()
endforeach()

# The common-controls check, once without and once with the installer's manifest.
if(TARGET commoncontrols_test)
  add_executable(commoncontrols_v6_test ${CMAKE_CURRENT_SOURCE_DIR}/unit/commoncontrols_test.cpp
                 ${QV_STARTUP_TEST_DIR}/Manifest.rc)
  target_compile_definitions(commoncontrols_v6_test PRIVATE QV_WITH_MANIFEST)
  target_link_libraries(commoncontrols_v6_test PRIVATE qv_test_support GTest::gtest_main)
  add_test(NAME commoncontrols_v6_test COMMAND commoncontrols_v6_test)
  set_tests_properties(commoncontrols_v6_test PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endif()
