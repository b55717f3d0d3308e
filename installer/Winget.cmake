# Writes the winget manifest of the signed installer (multi-file, manifest
# schema 1.9.0) into <build>/winget/manifests/o/OrvaneSystems/Trimora/<version>,
# the layout of the public winget package repository. Run by the build after
# the installer is signed (installer/CMakeLists.txt):
#
#   cmake -DINSTALLER=<signed exe> -DOUTPUT=<folder> -DSOURCE_DIR=<tree>
#         -DARCHITECTURE=x86|x64 -DINSTALLER_URL=<https address>
#         [-DOTHER_INSTALLER=<the other edition's signed exe>
#          -DOTHER_ARCHITECTURE=x64 -DOTHER_INSTALLER_URL=<https address>]
#         -P Winget.cmake
#
# With the other edition's installer, the installer manifest lists both
# architectures, each with its own address and hash: one package, never two
# with the same identifier.
# The version, publisher and product code are read from the sources that
# define them (identity/Product.h, identity/PublisherContact.h, product/common/
# ProductNames.h), the return codes from app/ExitCodes.h: nothing is said
# twice. tests/winget/validate.py checks the result against the published
# schema.
foreach(required INSTALLER OUTPUT SOURCE_DIR ARCHITECTURE INSTALLER_URL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "Winget.cmake: ${required} is not set")
  endif()
endforeach()

function(read_text_constant file name out)
  file(STRINGS ${SOURCE_DIR}/${file} line REGEX "${name}\\[\\] = L\"")
  string(REGEX REPLACE ".*L\"([^\"]*)\".*" "\\1" value "${line}")
  if(value STREQUAL "")
    message(FATAL_ERROR "Winget.cmake: ${name} not found in ${file}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

read_text_constant(identity/Product.h ProductFileVersionText version)
read_text_constant(identity/PublisherContact.h kPublisherWebAddress publisherUrl)
read_text_constant(product/common/ProductNames.h kProductVersionText shortVersion)

# The exit codes by their names in app/ExitCodes.h.
file(STRINGS ${SOURCE_DIR}/app/ExitCodes.h codeLines REGEX "^ *Exit[A-Za-z]+ = -?[0-9]+,")
foreach(line IN LISTS codeLines)
  string(REGEX REPLACE "^ *(Exit[A-Za-z]+) = (-?[0-9]+),.*" "\\1;\\2" pair "${line}")
  list(GET pair 0 codeName)
  list(GET pair 1 codeValue)
  set(${codeName} ${codeValue})
endforeach()

# One entry of Installers for each edition's signed installer.
function(installer_entry exe architecture url out)
  file(SHA256 ${exe} sha256)
  string(TOUPPER ${sha256} sha256)
  set(${out} "- Architecture: ${architecture}
  InstallerUrl: ${url}
  InstallerSha256: ${sha256}
" PARENT_SCOPE)
endfunction()
installer_entry(${INSTALLER} ${ARCHITECTURE} ${INSTALLER_URL} installers)
if(DEFINED OTHER_INSTALLER)
  if(EXISTS ${OTHER_INSTALLER})
    installer_entry(${OTHER_INSTALLER} ${OTHER_ARCHITECTURE} ${OTHER_INSTALLER_URL} other)
    string(APPEND installers "${other}")
  else()
    message(WARNING "Winget.cmake: no ${OTHER_INSTALLER} (build the ${OTHER_ARCHITECTURE} edition first): "
                    "the manifest lists ${ARCHITECTURE} only")
  endif()
endif()

set(id OrvaneSystems.Trimora)
# The uninstall key's name, which winget reads as the product code.
set(productCode "Quorvex 6")
set(schema 1.9.0)
set(folder ${OUTPUT}/manifests/o/OrvaneSystems/Trimora/${version})
file(REMOVE_RECURSE ${OUTPUT}/manifests)
file(MAKE_DIRECTORY ${folder})

set(header "# Written by the build (installer/Winget.cmake); manifest schema ${schema}.")

file(WRITE ${folder}/${id}.yaml "${header}
# yaml-language-server: $schema=https://aka.ms/winget-manifest.version.${schema}.schema.json
PackageIdentifier: ${id}
PackageVersion: ${version}
DefaultLocale: en-US
ManifestType: version
ManifestVersion: ${schema}
")

file(WRITE ${folder}/${id}.installer.yaml "${header}
# yaml-language-server: $schema=https://aka.ms/winget-manifest.installer.${schema}.schema.json
PackageIdentifier: ${id}
PackageVersion: ${version}
InstallerLocale: en-US
MinimumOSVersion: 10.0.0.0
InstallerType: exe
Scope: machine
InstallModes:
- interactive
- silent
- silentWithProgress
InstallerSwitches:
  Silent: /VERYSILENT
  SilentWithProgress: /S
  Log: /LOG=\"<LOGPATH>\"
  InstallLocation: /DIR=\"<INSTALLPATH>\"
ExpectedReturnCodes:
- InstallerReturnCode: ${ExitProcessorRefused}
  ReturnResponse: systemNotSupported
- InstallerReturnCode: ${ExitNotEnoughSpace}
  ReturnResponse: diskFull
- InstallerReturnCode: ${ExitProductRunning}
  ReturnResponse: packageInUse
- InstallerReturnCode: ${ExitInstalledElsewhere}
  ReturnResponse: alreadyInstalled
- InstallerReturnCode: ${ExitPathTooLong}
  ReturnResponse: invalidParameter
- InstallerReturnCode: ${ExitFolderIsAFile}
  ReturnResponse: invalidParameter
- InstallerReturnCode: ${ExitCancelled}
  ReturnResponse: cancelledByUser
- InstallerReturnCode: ${ExitAnotherInstaller}
  ReturnResponse: installInProgress
- InstallerReturnCode: ${ExitNewerVersionInstalled}
  ReturnResponse: downgrade
- InstallerReturnCode: ${ExitOtherEditionInstalled}
  ReturnResponse: alreadyInstalled
- InstallerReturnCode: ${ExitBadCommandLine}
  ReturnResponse: invalidParameter
UpgradeBehavior: install
FileExtensions:
- qvn
ProductCode: ${productCode}
ElevationRequirement: elevatesSelf
AppsAndFeaturesEntries:
- DisplayName: Trimora ${shortVersion}
  Publisher: Orvane Systems
  DisplayVersion: ${version}
  ProductCode: ${productCode}
  InstallerType: exe
Installers:
${installers}ManifestType: installer
ManifestVersion: ${schema}
")

file(WRITE ${folder}/${id}.locale.en-US.yaml "${header}
# yaml-language-server: $schema=https://aka.ms/winget-manifest.defaultLocale.${schema}.schema.json
PackageIdentifier: ${id}
PackageVersion: ${version}
PackageLocale: en-US
Publisher: Orvane Systems
PublisherUrl: ${publisherUrl}
PublisherSupportUrl: ${publisherUrl}
PackageName: Trimora
PackageUrl: ${publisherUrl}
License: Proprietary
Copyright: Orvane Systems
ShortDescription: Trimora ${shortVersion}, notebooks with word lists, templates and replacements.
Moniker: trimora
Tags:
- notebook
- notes
ManifestType: defaultLocale
ManifestVersion: ${schema}
")
message(STATUS "winget manifest: ${folder}")
