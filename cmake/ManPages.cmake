# Man pages are installed compressed, as man-db and Debian's packaging rules
# expect; -n keeps the archive free of time stamps so builds stay reproducible.
find_program(GZIP_PROGRAM gzip REQUIRED)

function(tarnwick_install_man_page page)
  get_filename_component(name ${page} NAME)
  set(compressed ${CMAKE_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9n -c ${page} > ${compressed}
    DEPENDS ${page}
    COMMENT "Compressing the man page ${name}"
    VERBATIM)
  add_custom_target(man_${name} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
