# The product's tests find the staged product through
# a generated header (Windows paths: Wine shows the build tree on drive Z:).
string(REPLACE "/" "\\" stage "Z:${QV_PRODUCT_STAGE}")
string(REPLACE "\\" "\\\\" stage "${stage}")
file(WRITE ${CMAKE_BINARY_DIR}/product/ProductTestPaths.h.new
  "#pragma once\n#define QV_PRODUCT_STAGE L\"${stage}\"\n")
configure_file(${CMAKE_BINARY_DIR}/product/ProductTestPaths.h.new ${CMAKE_BINARY_DIR}/product/ProductTestPaths.h COPYONLY)

foreach(test product_program_test product_payload_test product_uninstaller_test)
  if(TARGET ${test})
    target_include_directories(${test} PRIVATE ${CMAKE_BINARY_DIR}/product)
    target_link_libraries(${test} PRIVATE qv_product_common)
    add_dependencies(${test} qv_product)
  endif()
endforeach()
# The program's window at 150 %.
if(TARGET product_program_test)
  add_test(NAME product_program_test_dpi144
           COMMAND product_program_test --gtest_filter=RunningProgram.OpensAtItsSizeForTheScreensDpi)
  set_tests_properties(product_program_test_dpi144 PROPERTIES
    ENVIRONMENT "QV_WINE_PREFIX=fresh;QV_WINE_DPI=144" TIMEOUT 600)
endif()
# The uninstaller's tests plant the sequence's registrar where no program may be run.
if(TARGET product_uninstaller_test)
  add_dependencies(product_uninstaller_test qv_seq_registrar)
  target_compile_definitions(product_uninstaller_test PRIVATE QV_REGISTRAR_EXE="Z:$<TARGET_FILE:qv_seq_registrar>")
endif()
# The payload test reads the archive from its own resources, as the installer does.
if(TARGET product_payload_test)
  target_link_libraries(product_payload_test PRIVATE qv_payload)
endif()
