# corv_add_gtest(<target> [GUI] [TIMEOUT <seconds>] [LABELS <labels>...]
#                [ENV <VAR=value>...] [PROPERTIES <ctest properties>...])
#
# Registers every test of a GoogleTest executable with CTest. Each test gets a
# timeout, runs from the bin folder (where libVELK430.so and device.cfg are),
# never waits on the simulated link (fast timing) and, for GUI tests, uses the
# headless Qt platform. Settings and simulator state go to a scratch folder
# under the build tree so a test run never touches the user's own.
include(GoogleTest)

function(corv_add_gtest target)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "LABELS;ENV;PROPERTIES" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  set(scratch ${CMAKE_BINARY_DIR}/test-scratch/${target})
  set(env
    "VELK430_SIM_TIMING=fast"
    "VELK430_SIM_DIR=${scratch}/sim"
    "XDG_CONFIG_HOME=${scratch}/config"
    "XDG_STATE_HOME=${scratch}/state"
    "XDG_DATA_HOME=${scratch}/data"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    ${ARG_ENV})
  if(ARG_GUI)
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  set(labels ${ARG_LABELS})
  if(ARG_GUI)
    list(APPEND labels gui)
  endif()
  # gtest_discover_tests flattens list-valued PROPERTIES (only the first
  # ENVIRONMENT entry would arrive), so the environment is set by running
  # each test, and the discovery, through "cmake -E env".
  set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${env})
  gtest_discover_tests(${target}
    WORKING_DIRECTORY ${CORV_BIN_DIR}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${ARG_PROPERTIES} LABELS "${labels}")
endfunction()
