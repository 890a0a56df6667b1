include(GoogleTest)

# The labels a test may carry (ctest -L/-LE, scripts/test.sh LABELS=/EXCLUDE_LABELS=):
#   unit         portable logic over fakes or canned input
#   integration  a real peer (Wine, umockdev, D-Bus, the MBIM simulator, the file system)
#   root         needs root (chown, registry-file ownership, mount namespaces, mbim-proxy)
#   slow         waits on real time on purpose
#   wine, dbus   the peer it needs
set(HALVORN_TEST_LABELS unit integration root slow wine dbus)
# "root" for a test that needs root on Linux only (there the registry file counts only when
# root owns it; Wine's registry needs no such owner).
if(WIN32)
  set(HALVORN_LINUX_ROOT "")
else()
  set(HALVORN_LINUX_ROOT root)
endif()

# Fails the configure on a label outside the list above (a misspelt label would silently
# leave a test out of a label selection).
function(halvorn_check_test_labels name)
  foreach(label ${ARGN})
    if(NOT label IN_LIST HALVORN_TEST_LABELS)
      message(FATAL_ERROR "test ${name}: unknown label '${label}' (known: ${HALVORN_TEST_LABELS})")
    endif()
  endforeach()
endfunction()

# halvorn_add_test(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>]
#                  [SLOW_CASES <gtest filter>])
#
# One GoogleTest executable. Natively every test case becomes its own CTest test; in the
# Windows build the executable is one CTest test run under Wine (one Wine start per
# executable instead of one per case). SLOW_CASES names the cases (a --gtest_filter pattern:
# "Suite.Case:Other.*") that wait on real time: they carry the label "slow" besides LABELS; on
# Windows they run as a CTest test of their own, "<name>_slow".
function(halvorn_add_test name)
  cmake_parse_arguments(ARG "" "SLOW_CASES" "SOURCES;LIBS;LABELS" ${ARGN})
  halvorn_check_test_labels(${name} ${ARG_LABELS})
  add_executable(${name} ${ARG_SOURCES})
  halvorn_target_options(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  set(slow_labels ${ARG_LABELS} slow)
  list(REMOVE_DUPLICATES slow_labels)
  if(WIN32)
    if(ARG_SLOW_CASES)
      add_test(NAME ${name} COMMAND ${name} --gtest_filter=-${ARG_SLOW_CASES})
      add_test(NAME ${name}_slow COMMAND ${name} --gtest_filter=${ARG_SLOW_CASES})
      set_tests_properties(${name}_slow PROPERTIES LABELS "${slow_labels}" TIMEOUT 600)
    else()
      add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  else()
    # The discovered cases' labels are set by a script of our own, run after the discovery's:
    # the discovery writes its properties unquoted, so a list of labels would reach the cases
    # as its first label and a property named after the second.
    set(_labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    if(ARG_SLOW_CASES)
      gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300
                           TEST_FILTER "-${ARG_SLOW_CASES}" TEST_LIST ${name}_TESTS)
      gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300
                           TEST_FILTER "${ARG_SLOW_CASES}" TEST_LIST ${name}_SLOW_TESTS)
    else()
      gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 300
                           TEST_LIST ${name}_TESTS)
    endif()
    file(WRITE ${_labels_script}
         "foreach(_case IN LISTS ${name}_TESTS)\n"
         "  set_tests_properties(\"\${_case}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
         "endforeach()\n"
         "foreach(_case IN LISTS ${name}_SLOW_TESTS)\n"
         "  set_tests_properties(\"\${_case}\" PROPERTIES LABELS \"${slow_labels}\")\n"
         "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_labels_script})
  endif()
endfunction()
