# Run by `cmake --install` before it copies anything (see Install.cmake):
# stops with the list of files that are not built and the command that
# builds them, rather than installing part of a tree and failing half way.
# Set by the caller: vg_build_dir, and vg_built_<component> for each
# component (the files it installs from the build).
if(CMAKE_INSTALL_COMPONENT)
  set(vg_components ${CMAKE_INSTALL_COMPONENT})
else()
  set(vg_components Runtime Development)
endif()
set(vg_missing "")
foreach(vg_component IN LISTS vg_components)
  foreach(vg_file IN LISTS vg_built_${vg_component})
    if(NOT EXISTS "${vg_file}")
      list(APPEND vg_missing "${vg_file}")
    endif()
  endforeach()
endforeach()
if(vg_missing)
  list(LENGTH vg_missing vg_count)
  list(JOIN vg_missing "\n    " vg_missing)
  message(FATAL_ERROR
    "${vg_count} file(s) to install are not built (a build of some targets "
    "only, such as scripts/run.sh's, lacks them):\n"
    "    ${vg_missing}\n"
    "Nothing was installed. Build what the install needs first:\n"
    "    cmake --build ${vg_build_dir} --target installable\n")
endif()
