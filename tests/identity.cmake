# Extras of the identity, detection and language tests: small programs that
# carry version resources (the "installed product" of the detection tests),
# a crafted string module, and the locale runs of languages_test.

set(QV_PROBE_DIR ${CMAKE_CURRENT_BINARY_DIR}/probes)
set(QV_IDENTITY_DIR ${CMAKE_CURRENT_SOURCE_DIR}/identity)

# name; file version (commas); product name; product version; file flags;
# translation key; translation pair. Flags 0xB: pre-release, private and debug build.
set(QV_PROBES
  "6.4.0.3|6,4,0,3|Quorvex|6.04 SP1|0|040004b0|0x0400, 1200"
  "6.5.0.0|6,5,0,0|Quorvex|6.05|0|040004b0|0x0400, 1200"
  "6.4.1.0|6,4,1,0|Quorvex|6.04 R2|0|040004b0|0x0400, 1200"
  "6.4.0.2|6,4,0,2|Quorvex|6.04|0|040004b0|0x0400, 1200"
  "6.4.0.1|6,4,0,1|Quorvex|6.04 RC|0|040004b0|0x0400, 1200"
  "6.3.9.9|6,3,9,9|Quorvex|6.03 SP9|0|040004b0|0x0400, 1200"
  "6.3.0.0|6,3,0,0|Quorvex|6.03|0|040004b0|0x0400, 1200"
  "5.0.0.0|5,0,0,0|Quorvex|5.0|0|040004b0|0x0400, 1200"
  "flags|6,3,0,0|Quorvex bêta|6.03 bêta|0xB|040c04b0|0x040C, 1200"
  "ansi|6,1,0,0|Quorvex|6.01|0|040904e4|0x0409, 1252")

set(QV_PROBE_TARGETS)
foreach(probe IN LISTS QV_PROBES)
  string(REPLACE "|" ";" fields "${probe}")
  list(GET fields 0 name)
  list(GET fields 1 PROBE_VERSION_COMMAS)
  list(GET fields 2 PROBE_PRODUCT_NAME)
  list(GET fields 3 PROBE_PRODUCT_VERSION)
  list(GET fields 4 PROBE_FLAGS)
  list(GET fields 5 PROBE_TRANSLATION_KEY)
  list(GET fields 6 PROBE_TRANSLATION)
  configure_file(${QV_IDENTITY_DIR}/Probe.rc.in ${CMAKE_CURRENT_BINARY_DIR}/probe-${name}.rc @ONLY)
  add_executable(qv_probe_${name} ${QV_IDENTITY_DIR}/probe.c ${CMAKE_CURRENT_BINARY_DIR}/probe-${name}.rc)
  set_target_properties(qv_probe_${name} PROPERTIES
    OUTPUT_NAME probe-${name} RUNTIME_OUTPUT_DIRECTORY ${QV_PROBE_DIR})
  list(APPEND QV_PROBE_TARGETS qv_probe_${name})
endforeach()

add_executable(qv_probe_plain ${QV_IDENTITY_DIR}/probe.c)
set_target_properties(qv_probe_plain PROPERTIES OUTPUT_NAME probe-plain RUNTIME_OUTPUT_DIRECTORY ${QV_PROBE_DIR})
add_executable(qv_fallback_strings ${QV_IDENTITY_DIR}/probe.c ${QV_IDENTITY_DIR}/FallbackStrings.rc)
set_target_properties(qv_fallback_strings PROPERTIES
  OUTPUT_NAME fallback-strings RUNTIME_OUTPUT_DIRECTORY ${QV_PROBE_DIR})
list(APPEND QV_PROBE_TARGETS qv_probe_plain qv_fallback_strings)

foreach(test detection_test earlierlog_test versioninfo_test versionedition_test)
  if(TARGET ${test})
    add_dependencies(${test} ${QV_PROBE_TARGETS})
  endif()
endforeach()

# Tests that read the installer's own resources carry them.
foreach(test session_test languages_test stringtables_test versioninfo_test)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE qv_strings qv_version)
    add_dependencies(${test} ${QV_PROBE_TARGETS})
  endif()
endforeach()
if(TARGET versionedition_test)
  target_sources(versionedition_test PRIVATE ${QV_IDENTITY_DIR}/EditionVersion.rc)
endif()

# Wine takes the user's locale from LANG when a process starts, so the
# language choice from the user's locale is one run per locale.
if(TARGET languages_test)
  foreach(locale de_DE nl_NL fr_CH zh_TW zh_SG da_DK)
    add_test(NAME languages_test_${locale} COMMAND languages_test --gtest_filter=UserLocale.*)
    set_tests_properties(languages_test_${locale} PROPERTIES
      ENVIRONMENT "QV_WINE_PREFIX=fresh;LANG=${locale}.UTF-8" TIMEOUT 600)
  endforeach()
endif()

# The earlier-log search looks beside the running executable: this test runs
# from a folder of its own, so that no other test's files stand in its way.
if(TARGET earlierlog_test)
  set_target_properties(earlierlog_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/earlierlog)
endif()
