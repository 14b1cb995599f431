# velmor_add_gtest(NAME name SOURCES ... LIBS ... [TIMEOUT s] [NO_DISCOVER])
# Builds one GoogleTest executable and registers its cases with CTest. The
# shared test main (tests/support/TestMain.cpp) makes every test headless, with
# a private GStreamer registry and a private registry store.
include(GoogleTest)
find_package(GTest REQUIRED)

set(VELMOR_TEST_DIR "${CMAKE_BINARY_DIR}/tests")

function(velmor_add_gtest)
  cmake_parse_arguments(T "NO_DISCOVER" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES} "${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp")
  target_link_libraries(${T_NAME} PRIVATE Velmor::cfg GTest::gtest GTest::gmock ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE "${PROJECT_SOURCE_DIR}/tests/support")
  target_compile_definitions(${T_NAME} PRIVATE
    VELMOR_TEST_NAME="${T_NAME}"
    VELMOR_BINARY_DIR="${CMAKE_BINARY_DIR}"
    VELMOR_PROGRAM_DIR="${VELMOR_PROGRAM_DIR}"
    VELMOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${VELMOR_TEST_DIR}")
  if(T_NO_DISCOVER)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${T_NAME}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()
