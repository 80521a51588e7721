find_package(GTest REQUIRED)
include(GoogleTest)

# add_ostrel_test(name SOURCES a.cpp b.cpp LIBS lib... LABELS label... [TIMEOUT s]
#                 [PROPERTIES name value...])
# PROPERTIES are further CTest properties of every test found in the executable.
function(add_ostrel_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  set(labels ${T_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  set(timeout 120)
  if(T_TIMEOUT)
    set(timeout ${T_TIMEOUT})
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${labels}" TIMEOUT ${timeout} ${T_PROPERTIES}
    DISCOVERY_TIMEOUT 60)
endfunction()
