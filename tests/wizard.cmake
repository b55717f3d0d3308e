# The wizard's tests: the folder browser's rules in process, and the real
# installer driven through its windows (tests/wizard). Every scenario of the
# driven installer runs in its own fresh prefix; the screenshots of the pages
# land in <build>/screenshots/<language>/.
# QuorvexSetup is defined later (installer/), which add_dependencies allows.
if(TARGET qv_wizard)
  target_link_libraries(folder_browser_test PRIVATE qv_wizard qv_strings)
  target_link_libraries(wizard_browse_test PRIVATE qv_wizard qv_strings qv_version)
  target_link_libraries(wizard_frame_test PRIVATE qv_wizard qv_strings qv_version)
  # The install page as the installer draws it: common controls 6 from the
  # installer's manifest, a real installation of the test payload.
  target_sources(install_page_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/startup/Manifest.rc)
  target_link_libraries(install_page_test PRIVATE qv_wizard qv_strings qv_test_payload)
  # The frame at the screen's DPI: once at 96 DPI (its own entry) and at 150
  # and 200 %.
  target_link_libraries(wizard_dpi_test PRIVATE qv_wizard qv_strings qv_version)
  foreach(dpi 144 192)
    add_test(NAME wizard_dpi_test_${dpi} COMMAND wizard_dpi_test)
    set_tests_properties(wizard_dpi_test_${dpi} PROPERTIES
      ENVIRONMENT "QV_WINE_PREFIX=fresh;QV_WINE_DPI=${dpi}" TIMEOUT 600)
  endforeach()

  add_library(qv_wizard_driver STATIC ${CMAKE_CURRENT_SOURCE_DIR}/wizard/WizardDriver.cpp)
  target_link_libraries(qv_wizard_driver PUBLIC qv_test_support quorvex_core comctl32)

  set(QV_SCREENSHOT_DIR ${CMAKE_BINARY_DIR}/screenshots)
  add_executable(wizard_gui_test ${CMAKE_CURRENT_SOURCE_DIR}/wizard/wizard_gui_test.cpp)
  target_link_libraries(wizard_gui_test PRIVATE qv_wizard_driver GTest::gtest_main)
  add_dependencies(wizard_gui_test QuorvexSetup qv_probe_6.3.0.0 qv_probe_6.5.0.0)
  target_compile_definitions(wizard_gui_test PRIVATE
    QV_INSTALLER_EXE=L"Z:$<TARGET_FILE:QuorvexSetup>"
    QV_OLD_PROGRAM_EXE=L"Z:$<TARGET_FILE:qv_probe_6.3.0.0>"
    QV_NEW_PROGRAM_EXE=L"Z:$<TARGET_FILE:qv_probe_6.5.0.0>"
    QV_SCREENSHOT_DIR="${QV_SCREENSHOT_DIR}")

  set(QV_WIZARD_SCENARIOS
    QuickInstallationInEnglish:en_US
    AdvancedInstallationTypedFolderWithoutStartMenu:en_US
    FrenchUser:fr_FR
    LanguageChangeRelabelsEverythingAtOnce:en_US
    EarlierInstallationLanguageIsPreselected:en_US
    ExitQuestionNoKeepsTheWizard:en_US
    SameVersionInstalled:en_US
    OlderVersionInstalled:en_US
    NewerVersionInstalled:en_US
    DamagedPayloadFailsAndOffersInstallAgain:en_US
    FolderInTheWayFailsThenInstallAgainRunsAgain:en_US)
  foreach(entry IN LISTS QV_WIZARD_SCENARIOS)
    string(REPLACE ":" ";" parts ${entry})
    list(GET parts 0 scenario)
    list(GET parts 1 locale)
    qv_add_display_scenario(wizard_${scenario} wizard_gui_test Wizard.${scenario} "LANG=${locale}.UTF-8")
  endforeach()

  # Every page at 100, 150 and 200 %, in English and in French, with screenshots.
  foreach(dpi 96 144 192)
    foreach(locale en_US fr_FR)
      qv_add_display_scenario(wizard_EveryPageAtDpi${dpi}_${locale} wizard_gui_test Wizard.EveryPageAtTheScreensDpi
                              "QV_WINE_DPI=${dpi};LANG=${locale}.UTF-8")
    endforeach()
  endforeach()

  # What scripts/run.sh runs on a machine without a display.
  add_executable(wizard_demo ${CMAKE_CURRENT_SOURCE_DIR}/wizard/WizardDemo.cpp)
  target_link_libraries(wizard_demo PRIVATE qv_wizard_driver)
  qv_unicode_entry(wizard_demo)
endif()
