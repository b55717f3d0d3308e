# The winget manifest the build writes for the signed installer
# (installer/Winget.cmake), checked by tests/winget/validate.py: the fields
# the manifest schema requires, its hash, return codes and switches, and,
# where QV_WINGET_SCHEMA_DIR names a folder with a copy of the published
# manifest schema 1.9.0, against that schema too (a folder without it fails
# the test). Runs no Windows program: every edition's tree runs it. The
# 32-bit tree served by the 64-bit one (QV_HOST_BUILD) checks the manifest
# of both editions, each installer's hash against its own file.
set(QV_WINGET_SCHEMA_DIR "$ENV{QV_WINGET_SCHEMA_DIR}" CACHE PATH
    "Folder with the published winget manifest schema 1.9.0 (optional)")
if(QV_WINGET_SCHEMA_DIR)
  set(_qv_winget_schema "${QV_WINGET_SCHEMA_DIR}")
else()
  set(_qv_winget_schema none)
endif()
set(_qv_winget_installers ${QV_EDITION}=$<TARGET_FILE:QuorvexSetup>)
if(QV_EDITION STREQUAL x86 AND QV_HOST_BUILD)
  list(APPEND _qv_winget_installers x64=${QV_HOST_BUILD}/installer/InstallQuorvex6.04.exe)
endif()
if(TARGET qv_wizard)
  file(STRINGS ${PROJECT_SOURCE_DIR}/identity/Product.h QV_WINGET_VERSION_LINE REGEX "ProductFileVersionText\\[\\]")
  string(REGEX REPLACE ".*L\"([^\"]+)\".*" "\\1" QV_WINGET_VERSION "${QV_WINGET_VERSION_LINE}")
  add_test(NAME winget_manifest_validates
           COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/winget/validate.py
                   ${CMAKE_BINARY_DIR}/winget/manifests/o/OrvaneSystems/Trimora/${QV_WINGET_VERSION}
                   "${_qv_winget_schema}" ${PROJECT_SOURCE_DIR}/app/ExitCodes.h ${_qv_winget_installers})
  set_tests_properties(winget_manifest_validates PROPERTIES LABELS static)
endif()
