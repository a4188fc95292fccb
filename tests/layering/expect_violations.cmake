# The layering check run on a fixture tree with deliberate violations: it must fail and
# report exactly the expected lines, nothing the fixture includes legally.
#   cmake -DCHECK=<check_layering.cmake> -DFIXTURE=<tree> -DEXPECTED=<file> -P ...
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${FIXTURE} -P ${CHECK}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
if(status EQUAL 0)
  message(FATAL_ERROR "the layering check passed a tree with violations:\n${output}")
endif()
string(REGEX MATCHALL "[^\n]*:[0-9]+: [^\n]*\n" reported "${output}")
list(JOIN reported "" reported)
file(READ ${EXPECTED} expected)
if(NOT reported STREQUAL expected)
  message(FATAL_ERROR "expected:\n${expected}reported:\n${output}")
endif()
