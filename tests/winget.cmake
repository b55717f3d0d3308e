# The winget manifest the build writes for the signed installer
# (installer/Winget.cmake), checked by tests/winget/validate.py: the fields
# the manifest schema requires, its hash, return codes and switches, and,
# where QV_WINGET_SCHEMA_DIR names a folder with a copy of the published
# manifest schema 1.9.0, against that schema too. Runs no Windows program:
# every edition's tree runs it.
set(QV_WINGET_SCHEMA_DIR "$ENV{QV_WINGET_SCHEMA_DIR}" CACHE PATH
    "Folder with the published winget manifest schema 1.9.0 (optional)")
if(QV_WINGET_SCHEMA_DIR)
  set(_qv_winget_schema "${_qv_winget_schema}")
else()
  set(_qv_winget_schema none)
endif()
if(TARGET qv_wizard)
  file(STRINGS ${PROJECT_SOURCE_DIR}/identity/Product.h QV_WINGET_VERSION_LINE REGEX "ProductFileVersionText\\[\\]")
  string(REGEX REPLACE ".*L\"([^\"]+)\".*" "\\1" QV_WINGET_VERSION "${QV_WINGET_VERSION_LINE}")
  add_test(NAME winget_manifest_validates
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/winget/validate.py
                   ${CMAKE_BINARY_DIR}/winget/manifests/o/OrvaneSystems/Trimora/${QV_WINGET_VERSION}
                   "${_qv_winget_schema}" $<TARGET_FILE:QuorvexSetup>
                   ${PROJECT_SOURCE_DIR}/app/ExitCodes.h)
  set_tests_properties(winget_manifest_validates PROPERTIES LABELS static)
endif()
