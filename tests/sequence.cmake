# The install sequence end to end. Each scenario changes the machine (files,
# HKLM, HKCR), so every one runs as its own CTest test in its own fresh copy
# of the pristine prefix: one executable, one test per gtest filter.

target_link_libraries(install_texts_test PRIVATE qv_strings)

# Stands in for the installed program: registers a document type and
# records how it was started.
add_executable(qv_seq_registrar ${CMAKE_CURRENT_SOURCE_DIR}/sequence/Registrar.cpp
                                ${CMAKE_CURRENT_SOURCE_DIR}/sequence/Registrar.rc)
set_target_properties(qv_seq_registrar PROPERTIES OUTPUT_NAME registrar
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/sequence)
target_link_libraries(qv_seq_registrar PRIVATE advapi32)
qv_unicode_entry(qv_seq_registrar)

add_executable(install_sequence_test ${CMAKE_CURRENT_SOURCE_DIR}/sequence/install_sequence_test.cpp)
# qv_payload: the ProductSequence scenarios install the product's real
# payload from the test's own resources, and compare it with the staged files
# (ProductTestPaths.h, written by product/CMakeLists.txt).
target_link_libraries(install_sequence_test PRIVATE qv_test_support qv_strings qv_payload GTest::gtest_main)
target_include_directories(install_sequence_test PRIVATE ${CMAKE_BINARY_DIR}/product ${CMAKE_CURRENT_SOURCE_DIR}/sequence)
add_dependencies(install_sequence_test qv_seq_registrar qv_probe_6.3.0.0 qv_product)
target_compile_definitions(install_sequence_test PRIVATE
  QV_REGISTRAR_EXE="Z:$<TARGET_FILE:qv_seq_registrar>"
  QV_OLD_PROGRAM_EXE="Z:$<TARGET_FILE:qv_probe_6.3.0.0>")

set(QV_SEQUENCE_SCENARIOS
  FirstInstallation
  Update
  UpdateWritesLoggedDataFileThatIsGone
  Reinstallation
  CorruptArchive
  ChecksumMismatchFirstInstallation
  ChecksumMismatchReinstallation
  RunLogFollowsJournalAndRollback
  RegistrationRunFails
  ShortcutFolderFails
  TemporaryFolderUnavailable)
foreach(scenario IN LISTS QV_SEQUENCE_SCENARIOS)
  add_test(NAME install_sequence_${scenario} COMMAND install_sequence_test --gtest_filter=Sequence.${scenario})
  set_tests_properties(install_sequence_${scenario} PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endforeach()
foreach(scenario IN ITEMS FirstInstallation Update SilentUninstallLeavesOnlySharedData)
  add_test(NAME install_product_${scenario} COMMAND install_sequence_test --gtest_filter=ProductSequence.${scenario})
  set_tests_properties(install_product_${scenario} PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endforeach()
add_test(NAME install_sequence_snapshot COMMAND install_sequence_test --gtest_filter=Snapshot.*)
set_tests_properties(install_sequence_snapshot PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)

# Scenarios by behaviour on the small payload of SequenceScenario: one
# executable per behaviour, one CTest test per scenario, each in a fresh
# prefix.
add_library(qv_sequence_scenario STATIC ${CMAKE_CURRENT_SOURCE_DIR}/sequence/SequenceScenario.cpp)
target_link_libraries(qv_sequence_scenario PUBLIC qv_test_support)
target_compile_definitions(qv_sequence_scenario PRIVATE QV_REGISTRAR_EXE="Z:$<TARGET_FILE:qv_seq_registrar>")
add_dependencies(qv_sequence_scenario qv_seq_registrar)

function(qv_sequence_behaviour name suite)
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/sequence/${name}.cpp)
  target_link_libraries(${name} PRIVATE qv_sequence_scenario qv_strings GTest::gtest_main)
  foreach(scenario IN LISTS ARGN)
    add_test(NAME ${name}_${scenario} COMMAND ${name} --gtest_filter=${suite}.${scenario})
    set_tests_properties(${name}_${scenario} PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
  endforeach()
endfunction()

qv_sequence_behaviour(sequence_destinations_test Destinations
  FolderWhereALanguageLibraryGoes
  FolderWhereADataFileGoes
  ExistingDataFileOnAFirstInstallationIsKeptAndJournalled
  ExistingDataFileSurvivesTheRollback)
qv_sequence_behaviour(sequence_steps_test Steps
  NeitherShortcutLeavesNoShortcutStep
  SuccessfulRegistrationRunIsAnnouncedToTheShellOnce
  RegistrationRunEndingWithZeroIsNotAnnounced
  RegistrationRunThatCannotStart)
qv_sequence_behaviour(sequence_users_access_test UsersGrants
  FirstInstallationGrantsSharedFoldersAndDataFiles
  ReinstallationRenewsTheGrantsOfTheEarlierDataFiles)

# The sequence on a machine a standard user prepared first: planted links, a
# tampered log, a shared temporary folder, a long program path with blanks.
add_executable(install_hardening_test ${CMAKE_CURRENT_SOURCE_DIR}/sequence/hardening_test.cpp)
target_link_libraries(install_hardening_test PRIVATE qv_test_support qv_strings GTest::gtest_main)
target_include_directories(install_hardening_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sequence)
add_dependencies(install_hardening_test qv_seq_registrar)
target_compile_definitions(install_hardening_test PRIVATE QV_REGISTRAR_EXE="Z:$<TARGET_FILE:qv_seq_registrar>")
foreach(scenario IN ITEMS
    LinkAtTheSharedDataFolder LinkAtTheSampleFolder TamperedLogLinesAreKeptAsTheyAreAndNeverActedOn
    SharedTemporaryFolderWithEveryBackupNameTakenFirst ProgramPathOf259CharactersWithBlanks
    KeptDataFileStaysInPlaceOnRollback InstallationFolderOutsideProgramFiles
    FolderSwappedInForADataFileAtItsTakeBack UnquotedUninstallStringBesideAFolderUsersMayWriteIsWarnedOf
    HardLinkAtAShortcutsNameLosesOnlyItsName)
  add_test(NAME install_hardening_${scenario} COMMAND install_hardening_test --gtest_filter=Hardening.${scenario})
  set_tests_properties(install_hardening_${scenario} PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endforeach()
foreach(scenario IN ITEMS KeepsItsAttributesWhenTheBackupIsDeleted KeepsItsAttributesWhenTheRunIsRolledBack)
  add_test(NAME install_hardening_HardLinkAtAnInstallationFile_${scenario}
           COMMAND install_hardening_test --gtest_filter=HardLinkAtAnInstallationFile.${scenario})
  set_tests_properties(install_hardening_HardLinkAtAnInstallationFile_${scenario} PROPERTIES
                       ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endforeach()
foreach(scenario IN ITEMS IsTakenOverBeforeAnythingIsWrittenIntoIt RollbackGivesItsOwnerAndDaclBack)
  add_test(NAME install_hardening_ExistingInstallationFolder_${scenario}
           COMMAND install_hardening_test --gtest_filter=ExistingInstallationFolder.${scenario})
  set_tests_properties(install_hardening_ExistingInstallationFolder_${scenario} PROPERTIES
                       ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endforeach()

# What a run leaves when a file it replaces is held open.
add_executable(sequence_reliability_test ${CMAKE_CURRENT_SOURCE_DIR}/sequence/sequence_reliability_test.cpp)
target_link_libraries(sequence_reliability_test PRIVATE qv_test_support qv_strings GTest::gtest_main)
target_include_directories(sequence_reliability_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sequence)
add_dependencies(sequence_reliability_test qv_seq_registrar)
target_compile_definitions(sequence_reliability_test PRIVATE QV_REGISTRAR_EXE="Z:$<TARGET_FILE:qv_seq_registrar>")
foreach(scenario IN ITEMS ProgramHeldOpenOnAnUpdateStaysAsItWasReadOnlyIncluded
                         EarlierFileThatCannotGoBackWaitsForTheNextStart
                         UninstallLogThatCannotBeWrittenRollsTheRunBack)
  add_test(NAME sequence_reliability_${scenario} COMMAND sequence_reliability_test --gtest_filter=Reliability.${scenario})
  set_tests_properties(sequence_reliability_${scenario} PROPERTIES ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600)
endforeach()
# With the temporary folder on a volume of its own (tests/reliability): a
# small one, filled by the backup or before the run. Skipped (77) where the
# machine lets no such volume be made.
foreach(scenario IN ITEMS BackupVolumeFullLeavesTheEarlierFileAndFails JournalThatCannotBeWrittenStartsNothing)
  add_test(NAME sequence_reliability_${scenario}
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/reliability/other-volume.sh --small 2m ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:sequence_reliability_test> --gtest_filter=Reliability.${scenario})
  set_tests_properties(sequence_reliability_${scenario} PROPERTIES
    ENVIRONMENT "QV_WINE_PREFIX=fresh" TIMEOUT 600 SKIP_RETURN_CODE 77)
endforeach()
