# The committed protocol reference must be what the gateway prints from its
# command table, so the two cannot drift apart.
#   cmake -DPROGRAM=tk770-gateway -DCOMMITTED=docs/gateway-protocol.md -P reference_current.cmake
execute_process(COMMAND ${PROGRAM} --protocol-reference OUTPUT_VARIABLE printed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --protocol-reference failed: ${status}")
endif()
file(READ ${COMMITTED} committed)
if(NOT printed STREQUAL committed)
  message(FATAL_ERROR "${COMMITTED} differs from what the gateway prints; write it anew with\n"
                      "  tk770-gateway --protocol-reference > docs/gateway-protocol.md")
endif()
