include(GoogleTest)

# halvorn_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
#
# One GoogleTest executable. Natively every test case becomes its own CTest test; in the
# Windows build the executable is one CTest test run under Wine (one Wine start per
# executable instead of one per case).
function(halvorn_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  halvorn_target_options(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${ARG_LABELS}"
                         TIMEOUT 300)
  endif()
endfunction()
