find_package(GTest REQUIRED)
include(GoogleTest)

# morvale_add_test(<name> SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable per test folder; every test case becomes a CTest test.
function(morvale_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main morvale_options)
  target_compile_definitions(${name} PRIVATE MORVALE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name} PROPERTIES LABELS "${T_LABELS}" DISCOVERY_TIMEOUT 60)
endfunction()
