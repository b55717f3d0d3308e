# The checks of an edition's built files that run none of them
# (tests/image): headers, imports and delay imports, manifests, payload. In a
# build tree whose programs cannot run on this machine (QV_HOST_BUILD set:
# the 32-bit edition where no 32-bit program starts), the host edition's
# build of the same test reads this tree's files. Tests labelled "static"
# are the ones such a tree runs.
add_executable(installer_image_test ${CMAKE_CURRENT_SOURCE_DIR}/image/installer_image_test.cpp)
target_link_libraries(installer_image_test PRIVATE qv_test_support GTest::gtest_main)
target_compile_definitions(installer_image_test PRIVATE
  QV_OWN_BUILD=L"Z:${CMAKE_BINARY_DIR}" QV_OWN_EDITION=L"${QV_EDITION}")
add_dependencies(installer_image_test QuorvexSetup qv_product)

if(QV_HOST_BUILD)
  set(image_test ${CMAKE_CROSSCOMPILING_EMULATOR} ${QV_HOST_BUILD}/tests/installer_image_test.exe)
else()
  set(image_test installer_image_test)
endif()
add_test(NAME installer_image COMMAND ${image_test})
set_tests_properties(installer_image PROPERTIES
  ENVIRONMENT "QV_WINE_PREFIX=fresh;QV_IMAGE_BUILD=Z:${CMAKE_BINARY_DIR};QV_IMAGE_EDITION=${QV_EDITION}"
  LABELS static TIMEOUT 600)
