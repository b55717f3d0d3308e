# The winget manifest the build writes for the signed installer
# (installer/Winget.cmake), validated against the published manifest schema
# kept in tests/winget/schema-1.9.0 (with its licence) by
# tests/winget/validate.py. Runs no Windows program: every edition's tree
# runs it.
if(TARGET qv_wizard)
  file(STRINGS ${PROJECT_SOURCE_DIR}/app/Product.h QV_WINGET_VERSION_LINE REGEX "ProductFileVersionText\\[\\]")
  string(REGEX REPLACE ".*L\"([^\"]+)\".*" "\\1" QV_WINGET_VERSION "${QV_WINGET_VERSION_LINE}")
  add_test(NAME winget_manifest_validates
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/winget/validate.py
                   ${CMAKE_BINARY_DIR}/winget/manifests/o/OrvaneSystems/Trimora/${QV_WINGET_VERSION}
                   ${CMAKE_CURRENT_SOURCE_DIR}/winget/schema-1.9.0 $<TARGET_FILE:QuorvexSetup>
                   ${PROJECT_SOURCE_DIR}/app/ExitCodes.h)
  set_tests_properties(winget_manifest_validates PROPERTIES LABELS static)
endif()
