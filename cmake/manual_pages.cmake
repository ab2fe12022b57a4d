# Manual pages are installed gzipped, as Debian's policy asks of a package, and man reads them so
# everywhere. gzip -9n leaves out the name and the time, so that every build gives the same bytes.
find_program(TARNIS_GZIP gzip REQUIRED)

# Installs the page SOURCE (roff, in the calling folder) of SECTION as NAME.SECTION.gz, in the
# manual's folder of LANGUAGE ("ja"), or the English one without it.
function(tarnis_install_manual_page source name section)
  set(language ${ARGN})
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/man/${language})
  set(page ${folder}/${name}.${section})
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${page}
    COMMAND ${TARNIS_GZIP} -9nf ${page}
    DEPENDS ${source}
    VERBATIM)
  string(MAKE_C_IDENTIFIER "manual_${name}_${language}" target)
  add_custom_target(${target} ALL DEPENDS ${page}.gz)
  if(language)
    set(language ${language}/)
  endif()
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/${language}man${section})
endfunction()
