# The installer and the uninstaller with switches, as administrators and
# deployment tools run them (tests/unattended). Every scenario runs as its
# own CTest test in a fresh prefix. The first group runs with no X server at
# all (DISPLAY unset, not even the one the whole test run has); the second
# drives windows on an X server of its own, as the wizard's tests do.
if(TARGET qv_wizard_driver)
  add_executable(unattended_test ${CMAKE_CURRENT_SOURCE_DIR}/unattended/unattended_test.cpp)
  target_link_libraries(unattended_test PRIVATE qv_wizard_driver GTest::gtest_main)
  target_include_directories(unattended_test PRIVATE ${CMAKE_BINARY_DIR}/product)
  # The staged uninstaller comes from qv_product (product/), the test
  # build of the installer from tests/startup.cmake.
  add_dependencies(unattended_test QuorvexSetup setup_probe setup_probe_nomanifest qv_probe_6.5.0.0 qv_product)
  target_compile_definitions(unattended_test PRIVATE
    QV_INSTALLER_EXE=L"Z:$<TARGET_FILE:QuorvexSetup>"
    QV_SETUP_PROBE_EXE=L"Z:$<TARGET_FILE:setup_probe>"
    QV_SETUP_PROBE_NOMANIFEST_EXE=L"Z:$<TARGET_FILE:setup_probe_nomanifest>"
    QV_NEW_PROGRAM_EXE=L"Z:$<TARGET_FILE:qv_probe_6.5.0.0>")

  set(QV_UNATTENDED_WITHOUT_DISPLAY
    VerySilentWithoutDisplayInstallsAndQuietUninstallStringRemoves
    GermanIntoAFolderWithBlanksAndAccentsWithoutDesktopShortcut
    RefusalsChangeNothing
    RefusalsAreLoggedWithTheirCode
    NewerVersionInstalledIsLeftAlone
    CorruptPayloadFailsAndChangesNothing
    FailedStepAfterTheFilesIsNotReportedAsSuccess
    PackageManagerLineWithTrailingBackslashInstalls
    NoIconsNoSamplesAndTheOtherAcceptedSwitches
    NoInteractiveDesktopShowsNoWindowAndEndsWithItsCode
    DefaultLogOfSilentRunsAndUninstallThroughTheInstaller
    OtherEditionsInstallationIsFoundAndNeverDoubled)
  foreach(scenario IN LISTS QV_UNATTENDED_WITHOUT_DISPLAY)
    add_test(NAME unattended_${scenario} COMMAND unattended_test --gtest_filter=Unattended.${scenario})
    set_tests_properties(unattended_${scenario} PROPERTIES
      ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=en_US.UTF-8"
      ENVIRONMENT_MODIFICATION "DISPLAY=unset:"
      TIMEOUT 600)
  endforeach()

  # A drive letter standing for a 2 MiB volume of its own, smaller than the
  # payload (tests/reliability/other-volume.sh), without any display.
  add_test(NAME unattended_VolumeTooSmallIsRefusedBeforeAnythingIsWritten
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/reliability/other-volume.sh --small 2m ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:unattended_test> --gtest_filter=Unattended.VolumeTooSmallIsRefusedBeforeAnythingIsWritten)
  set_tests_properties(unattended_VolumeTooSmallIsRefusedBeforeAnythingIsWritten PROPERTIES
    ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=en_US.UTF-8"
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:"
    TIMEOUT 600 SKIP_RETURN_CODE 77)

  set(QV_UNATTENDED_WITH_DISPLAY
    SilentShowsTheProgressWindowOnlyAndClosesItself
    RunningProductStopsASilentRunUntilItEnds
    SecondInstallerRefusesWhileTheWizardRuns
    ExitOnAWizardPageOfARunWithLogIsCancelled
    HelpWindowsListSwitchesAndExitCodes)
  foreach(scenario IN LISTS QV_UNATTENDED_WITH_DISPLAY)
    qv_add_display_scenario(unattended_${scenario} unattended_test Unattended.${scenario} "LANG=en_US.UTF-8")
  endforeach()
  # The progress window at 150 %.
  qv_add_display_scenario(unattended_SilentShowsTheProgressWindowOnlyAndClosesItself_dpi144 unattended_test
                          Unattended.SilentShowsTheProgressWindowOnlyAndClosesItself
                          "QV_WINE_DPI=144;LANG=en_US.UTF-8")
endif()

# Installations ended abruptly at named points and the installer started
# again (tests/unattended/interrupted_test.cpp): each in a fresh prefix, with
# an X server of its own for the wizard the second start opens.
if(TARGET qv_wizard_driver AND TARGET setup_interruptible)
  add_executable(interrupted_test ${CMAKE_CURRENT_SOURCE_DIR}/unattended/interrupted_test.cpp)
  target_link_libraries(interrupted_test PRIVATE qv_wizard_driver GTest::gtest_main)
  target_include_directories(interrupted_test PRIVATE ${CMAKE_BINARY_DIR}/product)
  add_dependencies(interrupted_test QuorvexSetup setup_interruptible qv_probe_6.3.0.0 qv_product)
  target_compile_definitions(interrupted_test PRIVATE
    QV_INSTALLER_EXE=L"Z:$<TARGET_FILE:QuorvexSetup>"
    QV_INTERRUPTIBLE_EXE=L"Z:$<TARGET_FILE:setup_interruptible>"
    QV_OLD_PROGRAM_EXE=L"Z:$<TARGET_FILE:qv_probe_6.3.0.0>")
  foreach(machine IN ITEMS FreshMachine Update)
    foreach(point IN ITEMS DuringTheVerification WhileADataFileIsWritten AfterTheKeyWasWritten
                          DuringTheRegistrationRun)
      qv_add_display_scenario(interrupted_${machine}${point} interrupted_test Interrupted.${machine}${point}
                              "LANG=en_US.UTF-8")
    endforeach()
  endforeach()
  qv_add_display_scenario(interrupted_ReinstallationKilledThenItsFolderDeletedInstallsSilently interrupted_test
                          Interrupted.ReinstallationKilledThenItsFolderDeletedInstallsSilently "LANG=en_US.UTF-8")
  qv_add_display_scenario(interrupted_AnUnfinishedRunThatMustWaitIsSaidAtStartUp interrupted_test
                          Interrupted.AnUnfinishedRunThatMustWaitIsSaidAtStartUp "LANG=en_US.UTF-8")
  qv_add_display_scenario(interrupted_UpdateKilledThenUninstalledStaysRemoved interrupted_test
                          Interrupted.UpdateKilledThenUninstalledStaysRemoved "LANG=en_US.UTF-8")
  # With the temporary folder on a volume of its own (tests/reliability).
  add_test(NAME interrupted_UpdateWhileABackupIsCopiedToAnotherVolume
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/reliability/other-volume.sh 64m
                   ${CMAKE_CURRENT_SOURCE_DIR}/wizard/own-display.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:interrupted_test> --gtest_filter=Interrupted.UpdateWhileABackupIsCopiedToAnotherVolume)
  set_tests_properties(interrupted_UpdateWhileABackupIsCopiedToAnotherVolume PROPERTIES
    ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=en_US.UTF-8" TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()

# Installers, the uninstaller and the program meeting each other
# (tests/unattended/exclusion_test.cpp), with an X server of their own for
# the windows they answer; and a reinstallation before the restart an
# uninstallation left its deletions to, without any display.
if(TARGET qv_wizard_driver)
  add_executable(exclusion_test ${CMAKE_CURRENT_SOURCE_DIR}/unattended/exclusion_test.cpp)
  add_executable(reinstall_before_restart_test ${CMAKE_CURRENT_SOURCE_DIR}/unattended/reinstall_before_restart_test.cpp)
  foreach(test exclusion_test reinstall_before_restart_test)
    target_link_libraries(${test} PRIVATE qv_wizard_driver GTest::gtest_main)
    target_include_directories(${test} PRIVATE ${CMAKE_BINARY_DIR}/product)
    add_dependencies(${test} QuorvexSetup qv_product)
    target_compile_definitions(${test} PRIVATE QV_INSTALLER_EXE=L"Z:$<TARGET_FILE:QuorvexSetup>")
  endforeach()
  foreach(scenario IN ITEMS AnUninstallationTurnsAwayInstallersAndTheProgram TheUninstallerWaitsForARunningInstaller)
    qv_add_display_scenario(exclusion_${scenario} exclusion_test Exclusion.${scenario} "LANG=en_US.UTF-8")
  endforeach()
  add_test(NAME reinstall_before_restart_test COMMAND reinstall_before_restart_test)
  set_tests_properties(reinstall_before_restart_test PROPERTIES
    ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=en_US.UTF-8"
    ENVIRONMENT_MODIFICATION "DISPLAY=unset:"
    TIMEOUT 600)
endif()

# Names a user planted where shared data files and sample documents go
# (tests/unattended/planted_names_test.cpp): each in a fresh prefix, without
# any display.
if(TARGET qv_wizard_driver)
  add_executable(planted_names_test ${CMAKE_CURRENT_SOURCE_DIR}/unattended/planted_names_test.cpp)
  target_link_libraries(planted_names_test PRIVATE qv_wizard_driver GTest::gtest_main)
  target_include_directories(planted_names_test PRIVATE ${CMAKE_BINARY_DIR}/product)
  add_dependencies(planted_names_test QuorvexSetup qv_probe_6.3.0.0 qv_product)
  target_compile_definitions(planted_names_test PRIVATE
    QV_INSTALLER_EXE=L"Z:$<TARGET_FILE:QuorvexSetup>"
    QV_OLD_PROGRAM_EXE=L"Z:$<TARGET_FILE:qv_probe_6.3.0.0>")
  foreach(scenario IN ITEMS HardLinksOnAFreshMachineAreTakenAwayAndTheirFilesLeftAlone
                            HardLinkAtAnEarlierInstallationsDataFileOnAnUpdate RollbackPutsThePlantedNamesBack
                            SymbolicLinksPlantedOnTheLinuxSide)
    add_test(NAME planted_names_${scenario} COMMAND planted_names_test --gtest_filter=PlantedNames.${scenario})
    set_tests_properties(planted_names_${scenario} PROPERTIES
      ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=en_US.UTF-8"
      ENVIRONMENT_MODIFICATION "DISPLAY=unset:"
      TIMEOUT 600)
  endforeach()
endif()
