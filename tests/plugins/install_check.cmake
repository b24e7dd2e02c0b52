# Installs the plugins component into a staging root and checks that every plug-in lands in
# GStreamer's plug-in folder under its loadable name. Run by ctest with -D BUILD_DIR, STAGE,
# PLUGIN_DIR.
file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --component plugins
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(name audiotap bufferlog framewrap frameunwrap)
  if(NOT EXISTS ${STAGE}${PLUGIN_DIR}/libgst${name}.so)
    message(FATAL_ERROR "libgst${name}.so not installed in ${PLUGIN_DIR}")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE})
