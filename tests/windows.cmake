# SPDX-License-Identifier: Apache-2.0
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
  SOURCES telegram_test.cpp exchange_test.cpp reply_test.cpp scan_slot_test.cpp
  LIBS lms_engine)
lms_add_windows_test(transport_tests
  SOURCES silence_framer_test.cpp tcp_client_test.cpp
  LIBS transport)
lms_add_windows_test(sim_tests
  SOURCES emulated_scanner_test.cpp telegram_parser_test.cpp
  LIBS sim_core lms_engine)
lms_add_windows_test(app_tests
  SOURCES cli_test.cpp table_test.cpp scan_formats_test.cpp plot_test.cpp svg_test.cpp
  LIBS app)

# The Win32 serial port against a peer at the other end of a COM port: under
# Wine, tests/wine/com_peer.py maps the port to a pseudo-terminal it holds
# (the prefix maps COM21 to COM29 to paths it repoints; scripts/test.sh sets
# that up). One CTest test per case, each on a COM port of its own.
add_executable(serial_port_win32_tests serial_port_win32_test.cpp)
target_link_libraries(serial_port_win32_tests PRIVATE transport gtest gtest_main lms_warnings lms_test_flags)
target_include_directories(serial_port_win32_tests PRIVATE ${PROJECT_SOURCE_DIR})
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(LMSVIEW_WINE_PORTS ${CMAKE_BINARY_DIR}/ports)
set(com 21)
foreach(case
    Win32Serial.EveryByteValueMakesTheRoundTripAndWritesCountWhatWentOut
    Win32Serial.TheLineRunsAtTheRateAskedFor
    Win32Serial.ReadsNeverWaitAndWaitDataKeepsItsBound
    Win32Serial.APortThatGoesAwayIsReportedNotSpunOn
    Win32Serial.ASecondOpenOfAHeldPortSaysInUse
    Win32SerialNames.ComNumbersAndDevicePaths)
  add_test(NAME ${case}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/com_peer.py ${LMSVIEW_WINE_PORTS} ${com}
            $<TARGET_FILE:serial_port_win32_tests> --gtest_filter=${case})
  set_tests_properties(${case} PROPERTIES TIMEOUT 240 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
  math(EXPR com "${com} + 1")
endforeach()

# A line left with software flow control on (as another program may leave
# it) still carries every byte value, 0x11 and 0x13 included.
add_test(NAME Win32Serial.XonXoffLeftOnTheLineIsCleared
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/com_peer.py --ixon ${LMSVIEW_WINE_PORTS} 30
          $<TARGET_FILE:serial_port_win32_tests>
          --gtest_filter=Win32Serial.EveryByteValueMakesTheRoundTripAndWritesCountWhatWentOut)
set_tests_properties(Win32Serial.XonXoffLeftOnTheLineIsCleared PROPERTIES TIMEOUT 240)

# A C program that knows only lmsview.h, linked against lmsview.dll (beside it).
add_executable(nearest_c ${PROJECT_SOURCE_DIR}/examples/nearest.c)
target_link_libraries(nearest_c PRIVATE lmsview_shared)
set_target_properties(nearest_c PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/app)
# The same program taking UTF-8 arguments from its wide command line, its
# ANSI code page left as it is: the DLL must open UTF-8 names as written.
add_executable(nearest_utf8 ${PROJECT_SOURCE_DIR}/examples/nearest.c wine/utf8_main.c)
target_compile_definitions(nearest_utf8 PRIVATE main=example_main)
target_link_options(nearest_utf8 PRIVATE -municode)
target_link_libraries(nearest_utf8 PRIVATE lmsview_shared)
set_target_properties(nearest_utf8 PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/app)

# lmsview.exe under Wine against the Linux emulator, end to end. It needs the
# Linux build's lmssim and lmsview (for the wire comparison): give its folder
# as LMSVIEW_LINUX_BUILD (scripts/test.sh windows does).
set(LMSVIEW_LINUX_BUILD "" CACHE PATH "A Linux build folder holding sim/lmssim and app/lmsview")
if(LMSVIEW_LINUX_BUILD)
  foreach(case
      test_tcp_tables_are_the_scans_sent_and_piped_output_has_no_cr
      test_jsonl_over_com_7_mapped_to_the_emulators_line
      test_a_robot_of_two_emulators_as_tables_and_json_lines
      test_a_device_path_names_a_port_above_10
      test_a_byte_or_the_end_of_a_piped_input_ends_the_run_with_0
      test_sigint_ends_a_piped_run_with_130
      test_on_a_console_a_key_ends_with_0_and_ctrl_c_with_130
      test_a_refused_connection_ends_with_1_and_one_clear_line
      test_a_missing_com_port_ends_with_1_and_names_the_ports_there
      test_a_lost_link_ends_with_1
      test_reconnect_carries_on_when_the_line_comes_back
      test_bad_arguments_end_with_2_before_any_link
      test_files_under_non_ascii_names_and_a_closed_pipe
      test_list_ports_names_the_mapped_ports_in_order
      test_the_requests_on_the_wire_are_the_linux_builds
      test_a_c_program_reads_scans_through_lmsview_dll
      test_serve_gives_the_page_and_the_scans_over_winsock)
    add_test(NAME WindowsBuild.${case}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/lmsview_exe_test.py $<TARGET_FILE:lmsview>
              ${LMSVIEW_LINUX_BUILD}/sim/lmssim ${LMSVIEW_LINUX_BUILD}/app/lmsview ${LMSVIEW_WINE_PORTS} WindowsBuild.${case})
    set_tests_properties(WindowsBuild.${case} PROPERTIES TIMEOUT 240
                         ENVIRONMENT "LMSVIEW_NEAREST_C=$<TARGET_FILE:nearest_c>;LMSVIEW_NEAREST_UTF8=$<TARGET_FILE:nearest_utf8>")
  endforeach()
endif()
