# The log-file tests plant symbolic links from the Linux side, which is how a
# link reaches a Wine file system (Wine's own CreateSymbolicLinkW creates
# nothing): planted.log leads to victim.txt, dangling.log to a missing file,
# the folder linked-folder to real-folder.
if(TARGET log_file_test)
  set(links ${CMAKE_CURRENT_BINARY_DIR}/log-links)
  file(MAKE_DIRECTORY ${links})
  file(CREATE_LINK victim.txt ${links}/planted.log SYMBOLIC)
  file(CREATE_LINK missing.txt ${links}/dangling.log SYMBOLIC)
  # A folder on the way that is a link: linked-folder leads to real-folder.
  file(MAKE_DIRECTORY ${links}/real-folder)
  file(CREATE_LINK real-folder ${links}/linked-folder SYMBOLIC)
  target_compile_definitions(log_file_test PRIVATE QV_LOG_LINKS_DIR=L"Z:${links}")
endif()
