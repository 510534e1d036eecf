# The build revision logged at start-up: the checkout's commit, or 40 zeros outside git.
execute_process(
  COMMAND git rev-parse HEAD
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
  OUTPUT_VARIABLE HOPWELL_REVISION
  OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET
  RESULT_VARIABLE _rev_result)
if(NOT _rev_result EQUAL 0 OR NOT HOPWELL_REVISION MATCHES "^[0-9a-f]+$")
  set(HOPWELL_REVISION "0000000000000000000000000000000000000000")
endif()
configure_file(${CMAKE_SOURCE_DIR}/src/shell/Version.h.in ${CMAKE_BINARY_DIR}/generated/Version.h @ONLY)
