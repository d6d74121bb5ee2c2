# Installs the build BUILD_DIR into a fresh scratch prefix PREFIX.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
