# Installs the SDK from the build tree into STAGING, then moves it to PREFIX: the tests use
# it from a place it was never installed to, so nothing may depend on the install prefix.
file(REMOVE_RECURSE ${STAGING} ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGING}
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
file(RENAME ${STAGING} ${PREFIX})
