# tideload_windows_resources(TARGET DESCRIPTION ICON): compiles into the
# program TARGET its icon (made at build time from the XPM picture ICON, a
# path in the source folder, at 16, 32 and 48 pixels), its version resource
# (the project's VERSION, DESCRIPTION as the file description) and its
# manifest (the controls of version 6, DPI aware).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
enable_language(RC)

function(tideload_windows_resources target description icon)
  get_filename_component(icon_name ${icon} NAME_WE)
  set(ico ${CMAKE_BINARY_DIR}/${icon_name}.ico)
  # One rule per picture, however many programs show it.
  if(NOT TARGET ${icon_name}_ico)
    add_custom_command(OUTPUT ${ico}
      COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/xpm_to_ico.py ${CMAKE_SOURCE_DIR}/${icon} ${ico} 16 32 48
      DEPENDS ${CMAKE_SOURCE_DIR}/${icon} ${CMAKE_SOURCE_DIR}/scripts/xpm_to_ico.py
      VERBATIM)
    add_custom_target(${icon_name}_ico DEPENDS ${ico})
  endif()

  set(file_name ${target}${CMAKE_EXECUTABLE_SUFFIX})
  set(version ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} 0 0)
  list(JOIN version "," version_commas)
  list(JOIN version "." version_dots)
  set(dir ${CMAKE_BINARY_DIR}/resources/${target})
  set(manifest ${dir}/${target}.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/resources/windows/program.manifest.in ${manifest} @ONLY)
  configure_file(${CMAKE_SOURCE_DIR}/resources/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  set_source_files_properties(${dir}/${target}.rc PROPERTIES OBJECT_DEPENDS "${ico};${manifest}")
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  add_dependencies(${target} ${icon_name}_ico)
endfunction()
