# Authenticode signatures (scripts/sign.sh, osslsigncode). Every executable
# and library of the product is signed right after it is linked, so that the
# payload packs signed files; the installer is signed last, after its own
# link. A signature is the last step of a target's build: whatever a later
# change does to a linked file must come before qv_sign's command.
#
# Which certificate signs is decided when the build runs, from the
# environment (scripts/sign.sh): a release certificate when one is named,
# otherwise the build tree's throwaway test identity, made here once in
# <build>/signing and never anywhere else.
find_program(QV_OSSLSIGNCODE osslsigncode)
find_program(QV_OPENSSL openssl)
if(NOT QV_OSSLSIGNCODE OR NOT QV_OPENSSL)
  message(FATAL_ERROR "osslsigncode and openssl sign the executables: run scripts/setup.sh")
endif()

set(QV_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(QV_TEST_IDENTITY ${QV_SIGNING_DIR}/root.crt ${QV_SIGNING_DIR}/leaf.crt ${QV_SIGNING_DIR}/leaf.key)
add_custom_command(OUTPUT ${QV_TEST_IDENTITY}
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-test-certificate.sh ${QV_SIGNING_DIR}
  COMMENT "Making the build's throwaway code-signing identity"
  VERBATIM)
add_custom_target(qv_test_identity DEPENDS ${QV_TEST_IDENTITY})

# The signature's link is the publisher's web address, as the About box and
# the uninstall key give it.
file(STRINGS ${PROJECT_SOURCE_DIR}/identity/PublisherContact.h QV_PUBLISHER_LINE REGEX "kPublisherWebAddress\\[\\]")
string(REGEX REPLACE ".*L\"([^\"]+)\".*" "\\1" QV_PUBLISHER_URL "${QV_PUBLISHER_LINE}")

# Signs target's file after every link, with description as the signature's
# program name (what Windows shows when it asks for elevation).
function(qv_sign target description)
  add_dependencies(${target} qv_test_identity)
  # A new test identity links and signs again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QV_SIGNING_DIR}/leaf.crt)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/sign.sh --test-identity ${QV_SIGNING_DIR}
            --description ${description} --url ${QV_PUBLISHER_URL} $<TARGET_FILE:${target}>
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
