# What `cmake --install` puts where, and the Debian package made from it.
#
#   component Runtime      bin/vignettes, bin/vignettes-reg,
#                          bin/vignettes-thumbnailer and its .thumbnailer
#                          entry, libexec/vignettes/vignettes-decoder, the test picture,
#                          the desktop entry, icons, metainfo, manual pages,
#                          bash completions
#   component Development  the reusable libraries (platform, text, dib, jpeg,
#                          registry) as static libraries, their headers under
#                          include/vignettes/ in their "module/file.h" layout,
#                          and the CMake package Vignettes (targets vg::<module>
#                          and Vignettes::core)
#
# The Debian package (cpack -G DEB) holds the Runtime component only: the
# libraries are for building other programs from a `cmake --install`.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VG_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Vignettes" CACHE STRING
  "Where the Vignettes CMake package goes, relative to the install prefix")
set(VG_PACKAGE_MAINTAINER "The Vignettes developers <vignettes@users.noreply.github.com>"
  CACHE STRING "Maintainer field of the Debian package")

# The modules another program may build on, lowest first. app, its decoders,
# gui and cli are this program's own and stay out.
set(VG_EXPORTED_MODULES image platform text dib jpeg registry)
set(VG_MAN_PAGES vignettes.1 vignettes-reg.1 vignettes-thumbnailer.1)

# ------------------------------------------------------- built, or nothing
# `cmake --install` copies what the build made, and a build of some targets
# only (scripts/run.sh builds the program it runs) lacks the rest. So that
# such an install stops before it copies anything, with what to build, each
# component first checks that every file it installs from the build exists;
# `installable` builds them all (and not the tests).
set(vg_built_Runtime "")
foreach(program vignettes vignettes-reg vignettes-thumbnailer vignettes-decoder)
  if(TARGET ${program})
    list(APPEND vg_built_Runtime "$<TARGET_FILE:${program}>")
  endif()
endforeach()
foreach(page IN LISTS VG_MAN_PAGES)
  list(APPEND vg_built_Runtime "${PROJECT_BINARY_DIR}/man/${page}.gz")
endforeach()
set(vg_built_Development "")
foreach(module IN LISTS VG_EXPORTED_MODULES)
  if(TARGET vg_${module})
    list(APPEND vg_built_Development "$<TARGET_FILE:vg_${module}>")
  endif()
endforeach()
list(JOIN vg_built_Runtime "\"\n  \"" runtime_files)
list(JOIN vg_built_Development "\"\n  \"" development_files)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/install_check.cmake CONTENT
"set(vg_build_dir \"${PROJECT_BINARY_DIR}\")
set(vg_built_Runtime
  \"${runtime_files}\")
set(vg_built_Development
  \"${development_files}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/CheckBuilt.cmake\")
")
install(SCRIPT ${PROJECT_BINARY_DIR}/install_check.cmake ALL_COMPONENTS)

# ---------------------------------------------------------------- programs
# bash-completion loads completions/<command> the first time the command is
# completed, from below each folder of XDG_DATA_DIRS (by default
# /usr/local/share and /usr/share).
foreach(program vignettes vignettes-reg vignettes-thumbnailer)
  if(TARGET ${program})
    install(TARGETS ${program}
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
    install(FILES ${PROJECT_SOURCE_DIR}/data/bash-completion/${program}
      DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
      COMPONENT Runtime)
  endif()
endforeach()

# The desktop's thumbnailer and its entry for GNOME's thumbnail factory and
# tumbler. The entry names the program by its full path, written when it is
# installed: GNOME runs thumbnailers in a sandbox whose PATH may lack the
# prefix.
if(TARGET vignettes-thumbnailer)
  install(CODE "
    set(VG_THUMBNAILER_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vignettes-thumbnailer\")
    set(vg_entry \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/thumbnailers/vignettes.thumbnailer\")
    message(STATUS \"Installing: \${vg_entry}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/data/vignettes.thumbnailer.in\"
      \"\${vg_entry}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${vg_entry}\")
    " COMPONENT Runtime)
endif()

# The decoder process, found by the programs in <exe>/../libexec/vignettes/.
if(TARGET vignettes-decoder)
  install(TARGETS vignettes-decoder
    RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/vignettes COMPONENT Runtime)
endif()

# The program looks for its test picture in <exe>/../share/vignettes/, so this
# path follows bin/ rather than CMAKE_INSTALL_DATADIR.
install(FILES ${PROJECT_SOURCE_DIR}/data/test_picture.jpg
  DESTINATION share/vignettes COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION share/doc/vignettes RENAME copyright COMPONENT Runtime)

# Manual pages are installed compressed, as Debian policy asks: gzip -9n, so
# that no file name or time stamp lands in the header and a page always
# gives the same bytes.
set(vg_man_pages "")
foreach(page IN LISTS VG_MAN_PAGES)
  set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/${page} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page}
    COMMENT "Compressing the manual page ${page}" VERBATIM)
  list(APPEND vg_man_pages ${compressed})
endforeach()
add_custom_target(vg_man_pages ALL DEPENDS ${vg_man_pages})
install(FILES ${vg_man_pages}
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Runtime)

# The desktop side only makes sense when `vignettes` opens a window.
if(TARGET vg_gui)
  install(FILES ${PROJECT_SOURCE_DIR}/data/io.github.vignettes.Vignettes.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT Runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/data/io.github.vignettes.Vignettes.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT Runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/data/icons/vignettes.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
    COMPONENT Runtime)
  foreach(size 48 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/data/icons/${size}x${size}/vignettes.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      COMPONENT Runtime)
  endforeach()
endif()

# --------------------------------------------------------------- libraries
set(VG_INSTALL_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}/vignettes")

# vg_installed_headers(MODULE OUT)
#   The public headers of src/MODULE/ (every .h of the folder itself) and the
#   internal/ headers they reach, directly or through each other: an internal
#   header that a public one includes must be installed too.
function(vg_installed_headers module out)
  set(src ${PROJECT_SOURCE_DIR}/src)
  file(GLOB pending ${src}/${module}/*.h)
  set(found "")
  while(pending)
    list(POP_FRONT pending header)
    if(header IN_LIST found)
      continue()
    endif()
    list(APPEND found ${header})
    file(STRINGS ${header} includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z_]+/internal/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" name "${line}")
      if(EXISTS ${src}/${name})
        list(APPEND pending ${src}/${name})
      endif()
    endforeach()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

set(vg_exported_targets "")
foreach(module IN LISTS VG_EXPORTED_MODULES)
  if(NOT TARGET vg_${module})
    continue()  # a module that has not landed yet
  endif()
  list(APPEND vg_exported_targets vg_${module})
  # Exported as vg::<module>, the name the build tree uses.
  set_target_properties(vg_${module} PROPERTIES EXPORT_NAME ${module})
  target_include_directories(vg_${module} INTERFACE
    $<INSTALL_INTERFACE:${VG_INSTALL_INCLUDEDIR}>)
  vg_installed_headers(${module} headers)
  foreach(header IN LISTS headers)
    file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR}/src ${header})
    get_filename_component(folder ${relative} DIRECTORY)
    install(FILES ${header} DESTINATION ${VG_INSTALL_INCLUDEDIR}/${folder}
      COMPONENT Development)
  endforeach()
endforeach()

# Static libraries built with the sanitizers need their run-time libraries
# in every program that links them: the installed targets say so.
if(VG_SANITIZE AND TARGET vg_platform)
  target_link_options(vg_platform INTERFACE
    $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
endif()

# The whole library at once, for add_subdirectory users (find_package users
# get the same target from VignettesConfig.cmake).
add_library(vg_core INTERFACE)
add_library(Vignettes::core ALIAS vg_core)
target_link_libraries(vg_core INTERFACE ${vg_exported_targets})

if(vg_exported_targets)
  install(TARGETS ${vg_exported_targets} EXPORT VignettesTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Development)
  install(EXPORT VignettesTargets NAMESPACE vg::
    DESTINATION ${VG_INSTALL_CMAKEDIR} FILE VignettesTargets.cmake
    COMPONENT Development)
  list(TRANSFORM vg_exported_targets REPLACE "^vg_" "vg::"
    OUTPUT_VARIABLE VG_CORE_LINK_LIBRARIES)
  configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/VignettesConfig.cmake.in
    ${PROJECT_BINARY_DIR}/VignettesConfig.cmake
    INSTALL_DESTINATION ${VG_INSTALL_CMAKEDIR})
  # 0.x: a new minor version may change the interface.
  write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/VignettesConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/VignettesConfig.cmake
                ${PROJECT_BINARY_DIR}/VignettesConfigVersion.cmake
    DESTINATION ${VG_INSTALL_CMAKEDIR} COMPONENT Development)
endif()

# Everything `cmake --install` copies from the build, without the tests.
add_custom_target(installable DEPENDS vg_man_pages)
foreach(target vignettes vignettes-reg vignettes-thumbnailer vignettes-decoder
               ${vg_exported_targets})
  if(TARGET ${target})
    add_dependencies(installable ${target})
  endif()
endforeach()

# ------------------------------------------------------- Debian package
# Only for a build of Vignettes itself, not of a project that includes it.
if(NOT VG_TOP_LEVEL)
  return()
endif()
set(CPACK_PACKAGE_NAME vignettes)
set(CPACK_PACKAGE_VENDOR "The Vignettes developers")
set(CPACK_PACKAGE_CONTACT "${VG_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "batch thumbnailer: folders of photographs into smaller JPEG copies")
set(CPACK_PACKAGE_DESCRIPTION
  "Vignettes writes every picture of a folder (JPEG, PNG, GIF, BMP, ICO, CUR,
WebP, TIFF, HEIC/HEIF, AVIF, camera RAW, WMF, EMF) as a quality-90 JPEG scaled to a chosen width, its height in proportion, under a
file name made safe for any file system; one click makes a small set and a
large set at once. Input files are never overwritten. The same batch runs
from the command line without a display. The package also carries
vignettes-reg, the command-line tool of the Vignettes registry store.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)  # the debugging symbols stay in the build tree
# The programs only, whatever else the build tree installs.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Vignettes;Runtime;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # vignettes_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VG_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/vignettes/vignettes")
# Depends: from the libraries the programs link (dpkg-shlibdeps), and the
# font the window's layout was measured in (also the metafiles' text's,
# with a CJK font for what it lacks).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, fonts-wqy-microhei")
include(CPack)
