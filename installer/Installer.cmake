# How an installer executable is linked; the shipped installer
# (installer/CMakeLists.txt) and its test build (tests/startup.cmake) alike.
#
# A DLL that a program imports is looked for beside the program before the
# system folder, unless it is one of the system's KnownDLLs, and that search
# happens before any of the program's code runs. version.dll is no KnownDLL:
# the installer binds it at its first call instead (delay load), when
# restrictDllSearch has already limited the search to the system folder.
# The same holds for bcrypt.dll (the UUID generator's random numbers).
#
# The .def files name the functions as x86 decorates stdcall names (-k drops
# the decoration from the names looked up in the DLL). x64 has no such
# decoration: there a decorated name matches no call, and the linker would
# quietly take the plain import library instead, making the DLL a load-time
# import again. The x64 edition's .def is written without it.
foreach(dll version bcrypt)
  set(lib ${CMAKE_BINARY_DIR}/installer/lib${dll}_delay.a)
  set(def ${CMAKE_CURRENT_LIST_DIR}/${dll}.def)
  if(QV_EDITION STREQUAL x64)
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    set(def ${CMAKE_BINARY_DIR}/installer/${dll}.def)
    file(WRITE ${def}.new "${text}")
    configure_file(${def}.new ${def} COPYONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${dll}.def)
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/installer
    COMMAND ${CMAKE_DLLTOOL} -k --input-def ${def} --output-delaylib ${lib}
    DEPENDS ${def}
    COMMENT "Delay-load import library for ${dll}.dll")
  add_custom_target(qv_${dll}_delaylib DEPENDS ${lib})
  add_library(qv_${dll}_delay STATIC IMPORTED GLOBAL)
  set_target_properties(qv_${dll}_delay PROPERTIES IMPORTED_LOCATION ${lib})
  add_dependencies(qv_${dll}_delay qv_${dll}_delaylib)
endforeach()

set(QV_INSTALLER_DIR ${CMAKE_CURRENT_LIST_DIR})

# The libraries come first so that their version.dll and bcrypt.dll calls
# bind to the delay-load libraries, ahead of the plain import libraries that
# the floors' libraries name.
function(qv_installer_links target)
  target_link_libraries(${target} PRIVATE ${ARGN} ${QV_FLOOR_LIBRARIES} qv_version_delay qv_bcrypt_delay delayimp
                        qv_strings qv_version)
  qv_framework_entry(${target})
endfunction()

# An installer executable: the sources of installer/ and the wizard, with the
# given payload object library (none: no payload). The shipped installer
# (installer/CMakeLists.txt) and the benchmark's (bench/) differ in nothing
# else.
function(qv_add_installer target payload)
  # Resource scripts name their files relative to themselves.
  set_source_files_properties(${QV_INSTALLER_DIR}/Installer.rc PROPERTIES
    OBJECT_DEPENDS ${QV_MANIFEST_DIR}/Installer.manifest)
  set_source_files_properties(${QV_INSTALLER_DIR}/Icon.rc PROPERTIES
    OBJECT_DEPENDS ${QV_INSTALLER_DIR}/Placeholder.ico)
  add_executable(${target} WIN32 ${QV_INSTALLER_DIR}/InstallerMain.cpp
                 ${QV_INSTALLER_DIR}/InstallerSettings.cpp ${QV_INSTALLER_DIR}/Installer.rc)
  qv_installer_links(${target} qv_wizard)
  if(TARGET ${payload})
    target_link_libraries(${target} PRIVATE ${payload})
  endif()
  # The artwork's icon 128 replaces the placeholder once the wizard has it.
  if(NOT QV_WIZARD_HAS_APP_ICON)
    target_sources(${target} PRIVATE ${QV_INSTALLER_DIR}/Icon.rc)
  endif()
endfunction()
