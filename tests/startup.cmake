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
  target_link_libraries(commoncontrols_v6_test PRIVATE qv_test_support quorvex_core GTest::gtest_main)
  add_test(NAME commoncontrols_v6_test COMMAND commoncontrols_v6_test)
  set_tests_properties(commoncontrols_v6_test PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endif()

# The installer's test build: its own static initialisation and start-up with
# a stand-in frame (startup/SetupProbe.cpp); once with the installer's
# manifest, once without (common controls 5.81: the initialisation refuses).
foreach(variant setup_probe setup_probe_nomanifest)
  add_executable(${variant} WIN32 ${QV_INSTALLER_DIR}/InstallerMain.cpp
                 ${QV_STARTUP_TEST_DIR}/SetupProbe.cpp ${QV_STARTUP_TEST_DIR}/SetupProbe.rc
                 ${QV_INSTALLER_DIR}/Icon.rc)
  target_include_directories(${variant} PRIVATE ${QV_STARTUP_TEST_DIR})
  qv_installer_links(${variant})
endforeach()
target_sources(setup_probe PRIVATE ${QV_INSTALLER_DIR}/Installer.rc)

if(TARGET startup_test)
  add_dependencies(startup_test setup_probe setup_probe_nomanifest instance_helper)
  # The shipped installer, to see that it carries none of the test build's
  # switches. QuorvexSetup is defined later (installer/).
  if(TARGET qv_wizard)
    add_dependencies(startup_test QuorvexSetup)
    target_compile_definitions(startup_test PRIVATE QV_INSTALLER_EXE=L"Z:$<TARGET_FILE:QuorvexSetup>")
  endif()
  target_link_libraries(startup_test PRIVATE qv_strings)
  # Wine takes the user's language from LANG when a process starts.
  add_test(NAME startup_test_fr COMMAND startup_test --gtest_filter=StartUpDefaults.*)
  set_tests_properties(startup_test_fr PROPERTIES
    ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=fr_FR.UTF-8" TIMEOUT 600)
endif()
if(TARGET errors_test)
  target_link_libraries(errors_test PRIVATE qv_strings qv_version)
endif()

# Start-up with an earlier installation: the test build again, with the probe
# programs standing for the installed one.
if(TARGET startup_earlier_folders_test)
  add_dependencies(startup_earlier_folders_test setup_probe ${QV_PROBE_TARGETS})
endif()

# The installer's test build that ends its own process at a named point of
# the installation (QV_PROBE_END_AT), with the real payload: the interrupted
# runs of tests/unattended/interrupted_test.cpp.
add_executable(setup_interruptible WIN32 ${QV_INSTALLER_DIR}/InstallerMain.cpp
               ${QV_STARTUP_TEST_DIR}/InterruptibleSettings.cpp ${QV_INSTALLER_DIR}/Installer.rc
               ${QV_INSTALLER_DIR}/Icon.rc)
qv_installer_links(setup_interruptible)
if(TARGET qv_payload)
  target_link_libraries(setup_interruptible PRIVATE qv_payload)
endif()
if(TARGET startup_test)
  add_dependencies(startup_test setup_interruptible)
endif()
