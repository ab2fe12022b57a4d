# What a Tarnis program needs on Windows besides its code.

# Gives `target` the program's icon and a version resource that says the project's version, in
# the file's properties in Explorer; and the manifest, when one is given after the description.
function(tarnis_add_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(TARNIS_PROGRAM ${target})
  set(TARNIS_DESCRIPTION ${description})
  set(TARNIS_ICO ${PROJECT_SOURCE_DIR}/data/icons/tarnis.ico)
  set(TARNIS_MANIFEST "")
  if(ARGC GREATER 2)
    # CREATEPROCESS_MANIFEST_RESOURCE_ID of type RT_MANIFEST, which the loader reads.
    set(TARNIS_MANIFEST "1 24 \"${ARGV2}\"")
    set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${ARGV2})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
