# vg_add_library(NAME SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
#   One folder of src/ = one library target vg_NAME with the alias vg::NAME.
#   Headers are included as "NAME/file.h" from src/.
function(vg_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(vg_${name} ${ARG_SOURCES})
  add_library(vg::${name} ALIAS vg_${name})
  target_include_directories(vg_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  target_compile_features(vg_${name} PUBLIC cxx_std_20)
  target_link_libraries(vg_${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  vg_set_warnings(vg_${name})
endfunction()

# vg_add_test(NAME SOURCES ... [DEPS ...] [LABELS ...])
#   One GoogleTest executable; its cases are registered with ctest one by one.
function(vg_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} vg_test_common
    vg_test_decoder_program GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  vg_set_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()

# Adds every listed sub-folder; a missing one is a configure error, never a
# module silently left out of the build.
macro(vg_add_subdirectories)
  foreach(dir ${ARGN})
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt is missing")
    endif()
    add_subdirectory(${dir})
  endforeach()
endmacro()

# vg_add_module(NAME [PUBLIC_DEPS ...] [PRIVATE_DEPS ...])
#   The library of one src/ folder: every .cpp file of the folder and of its
#   internal/ sub-folder (new files are picked up at the next build).
function(vg_add_module name)
  cmake_parse_arguments(ARG "" "" "PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/internal/*.cpp)
  if(NOT sources)
    message(FATAL_ERROR "module ${name}: no source file in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  vg_add_library(${name} SOURCES ${sources}
    PUBLIC_DEPS ${ARG_PUBLIC_DEPS} PRIVATE_DEPS ${ARG_PRIVATE_DEPS})
endfunction()

# vg_add_module_tests(MODULE [DEPS ...] [LABELS ...])
#   One test executable MODULE_<unit>_test per <unit>_test.cpp of the folder;
#   helpers shared by the folder's tests go in *_testutil.cpp files, built
#   once into a library that each of them links.
function(vg_add_module_tests module)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB utils CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_testutil.cpp)
  set(util_lib "")
  if(utils)
    set(util_lib ${module}_testutil)
    add_library(${util_lib} STATIC ${utils})
    target_include_directories(${util_lib} PUBLIC ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${util_lib} PUBLIC ${ARG_DEPS} vg_test_common
      GTest::gtest GTest::gmock)
    vg_set_warnings(${util_lib})
  endif()
  foreach(test_source ${tests})
    get_filename_component(unit ${test_source} NAME_WE)
    vg_add_test(${module}_${unit} SOURCES ${test_source}
      DEPS ${util_lib} ${ARG_DEPS} LABELS ${ARG_LABELS})
  endforeach()
endfunction()
