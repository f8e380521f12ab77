# The tests that run on Windows (under Wine when cross-built): every unit
# test that needs no pseudo-terminal and no fork. Debian has
# no mingw GoogleTest package, so its sources are built with the toolchain.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

add_library(lms_test_flags INTERFACE)
target_compile_options(lms_test_flags INTERFACE -Wno-missing-field-initializers)

add_library(lms_test_support STATIC loopback_peer_win32.cpp)
target_include_directories(lms_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(lms_test_support PUBLIC ws2_32 PRIVATE lms_warnings)

function(lms_add_windows_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} lms_test_support gtest gtest_main lms_warnings lms_test_flags)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # Listed when the tests run, under the emulator, not at build time.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 240)
endfunction()

lms_add_windows_test(lms_tests
  SOURCES telegram_test.cpp exchange_test.cpp scan_test.cpp scan_slot_test.cpp
  LIBS lms)
lms_add_windows_test(transport_tests
  SOURCES silence_framer_test.cpp tcp_client_test.cpp
  LIBS transport)
lms_add_windows_test(sim_tests
  SOURCES sim_engine_test.cpp telegram_parser_test.cpp
  LIBS sim_core lms)
lms_add_windows_test(app_tests
  SOURCES cli_test.cpp display_test.cpp scan_formats_test.cpp plot_test.cpp
  LIBS app)
