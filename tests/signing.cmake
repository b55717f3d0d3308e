# The build's Authenticode signatures (cmake/Signing.cmake), checked from
# Linux with osslsigncode against the build's test root: every signature of
# the build, the release paths of scripts/sign.sh, and the signed installer
# end to end in a fresh prefix.
set(QV_SIGNING_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/signing)
add_test(NAME signatures_verify
         COMMAND bash ${QV_SIGNING_TEST_DIR}/verify-signatures.sh ${CMAKE_BINARY_DIR})
add_test(NAME signatures_release_identities
         COMMAND bash ${QV_SIGNING_TEST_DIR}/release-identities.sh ${CMAKE_BINARY_DIR})
# Both run no Windows program: every edition's tree runs them (tests/image.cmake).
set_tests_properties(signatures_verify signatures_release_identities PROPERTIES LABELS static)
if(TARGET wizard_demo)
  add_test(NAME signed_installation
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wizard/own-display.sh
                   bash ${QV_SIGNING_TEST_DIR}/signed-installation.sh ${CMAKE_BINARY_DIR} $<TARGET_FILE:wizard_demo>)
  set_tests_properties(signed_installation PROPERTIES TIMEOUT 600)
endif()
