# Installs a pkg-config file made from `template` (@PC_PREFIX@, @PC_LIBDIR@, @PC_INCLUDEDIR@)
# under the library folder, in `component`. Its prefix is found from the file's own place, so
# `cmake --install --prefix` anywhere gives a working file.
function(tobrel_install_pkgconfig template name component)
  set(_pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH _up /${_pcdir} /)
  string(REGEX REPLACE "/$" "" _up "${_up}")
  set(PC_PREFIX "\${pcfiledir}/${_up}")
  set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  configure_file(${template} ${CMAKE_CURRENT_BINARY_DIR}/install/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/install/${name}.pc DESTINATION ${_pcdir} COMPONENT ${component})
endfunction()
