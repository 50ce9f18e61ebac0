# hollin_add_test(<name> LABEL unit|gui|integration|fuzz|wm [KEYRING] SOURCES ... LIBS ... [TIMEOUT s])
# One executable per test class. gui tests run on the offscreen platform; wm
# tests on an X server of their own with a window manager (tests/wm/run-with-wm.sh);
# KEYRING tests on a private session bus with a keyring of their own
# (tests/support/with-keyring.sh).
function(hollin_add_test name)
  cmake_parse_arguments(T "KEYRING" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_LABEL)
    message(FATAL_ERROR "hollin_add_test(${name}): LABEL is required")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE
    HOLLIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    HOLLIN_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  if(T_KEYRING)
    add_test(NAME ${name} COMMAND dbus-run-session --
      ${PROJECT_SOURCE_DIR}/tests/support/with-keyring.sh $<TARGET_FILE:${name}>)
  elseif(T_LABEL STREQUAL "wm")
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/wm/run-with-wm.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  # No test reaches the desktop keyring of the user running the suite: the
  # session bus is one that does not exist, unless the test makes its own.
  set(env "LANG=C.UTF-8" "LC_ALL=C.UTF-8")
  if(NOT T_KEYRING)
    list(APPEND env "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/hollin-test-bus")
  endif()
  if(T_LABEL STREQUAL "gui" OR T_LABEL STREQUAL "integration")
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()

# hollin_add_library(<area> SOURCES ... LIBS ...): the static library hollin_<area>.
function(hollin_add_library area)
  cmake_parse_arguments(L "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(hollin_${area} STATIC ${L_SOURCES})
  target_include_directories(hollin_${area} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(hollin_${area} PUBLIC ${L_PUBLIC_LIBS} PRIVATE ${L_PRIVATE_LIBS})
endfunction()
