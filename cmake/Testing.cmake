# taltrix_unit_test(NAME SOURCES ... LIBS ...)
# A GoogleTest binary whose cases are registered one by one with CTest under
# the label "unit". Nothing is built when tests are switched off.
function(taltrix_unit_test name)
  if(NOT TALTRIX_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(${name}
    PROPERTIES LABELS unit
    DISCOVERY_TIMEOUT 30)
endfunction()

# Adds every direct sub-folder of the current folder that has a CMakeLists.txt,
# in name order, so that a new component only needs its own folder.
function(taltrix_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
