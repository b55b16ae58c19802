# The Windows build's tests, which ctest runs under wine (the toolchain file
# makes scripts/wine-run.sh the emulator). Under wine every socket is the
# host's, outside any network namespace: these tests talk to 127.0.0.0/8
# only, and whatever would leave loopback goes through a stand-in.

# GoogleTest from Debian's sources, built with the cross compiler; its own
# list names the targets GTest::gtest and GTest::gmock, as find_package does
# on Linux. Its warnings are not this project's.
set(VORPANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VORPANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  target_compile_options(${target} PRIVATE -Wno-error)
endforeach()

# One wine session for the whole run: the first test brings up the X server,
# the prefix and a persistent wineserver, the last one stops them.
set(VORPANE_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
set(VORPANE_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
add_test(NAME wine_start COMMAND ${VORPANE_WINE_RUN} start ${VORPANE_WINE_DIR})
add_test(NAME wine_stop COMMAND ${VORPANE_WINE_RUN} stop ${VORPANE_WINE_DIR})
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
add_test(NAME test_wine_desktop
  COMMAND ${PROJECT_SOURCE_DIR}/tests/scripts/wine-desktop-test.sh ${VORPANE_WINE_DIR})
set_tests_properties(test_wine_desktop PROPERTIES TIMEOUT 60 FIXTURES_REQUIRED wine)

add_library(vorpane_test_main STATIC tests/common/test_main.cpp)
target_include_directories(vorpane_test_main PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(vorpane_test_main PUBLIC GTest::gtest vorpane_platform)

# Test doubles more than one folder's tests use (tests/common).
add_library(vorpane_test_support INTERFACE)
target_include_directories(vorpane_test_support INTERFACE ${PROJECT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/tests/common)
target_link_libraries(vorpane_test_support INTERFACE vorpane_printer_link)

# vorpane_add_wine_test(NAME name SOURCES ... LIBS ... [ARGS ...] [TIMEOUT s])
function(vorpane_add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common
    ${PROJECT_SOURCE_DIR})
  target_link_libraries(${T_NAME} PRIVATE vorpane_test_main ${T_LIBS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} ${T_ARGS})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} FIXTURES_REQUIRED wine)
endfunction()

add_subdirectory(tests/ui/win32)

# The core's tests that mean something on Windows: the Windows sides of the
# platform and of the net layer, the probe's logic with scripted sockets, the
# printer link against the virtual printer on 127.0.0.1, and the main window
# on the headless window system, its scan with a scripted sweep and probes.
set(T ${PROJECT_SOURCE_DIR}/tests)
vorpane_add_wine_test(NAME test_platform
  SOURCES ${T}/platform/test_socket.cpp ${T}/platform/test_platform_windows.cpp
    ${T}/platform/test_ipv4_address.cpp
  LIBS vorpane_platform shell32)
vorpane_add_wine_test(NAME test_net
  SOURCES ${T}/net/test_echo_probe.cpp ${T}/net/test_ip_helper.cpp
  LIBS vorpane_net)
# The printer sweep over loopback addresses: the Windows wait sees refused
# connects and the printers' answers.
vorpane_add_wine_test(NAME test_port_sweep
  SOURCES ${T}/discovery/test_port_sweep.cpp
  LIBS vorpane_discovery vorpane_virtual_printer)
# Wine closes a socket with a zero linger time now with a reset, now with an
# orderly end, so the busy one-session printer's reset is left to Linux: a job
# it turned away can read as sent.
vorpane_add_wine_test(NAME test_printer_link
  SOURCES ${T}/printer_link/test_printer_link.cpp
  LIBS vorpane_printer_link vorpane_virtual_printer
  ARGS --gtest_filter=-NetworkPrinterLinkSend.BusyOneSessionPrinterIsNotReportedAsSent:SharedStatusReader.StatusReadsNeverCostASale)
vorpane_add_wine_test(NAME test_app
  SOURCES ${T}/app/test_main_dialog.cpp ${T}/app/test_main_controls.cpp ${T}/app/test_actions.cpp
    ${T}/discovery/test_netbios_sweep.cpp ${T}/discovery/test_scan.cpp
    ${T}/commands/test_commands_loopback.cpp ${T}/status/test_status.cpp
  LIBS vorpane_app vorpane_headless vorpane_test_support vorpane_virtual_printer)

# The printer window's contract against the Win32 window, in-process, fed
# by a printer on 127.0.0.1; vorpane-printer.exe --window with it, from outside.
vorpane_add_wine_test(NAME test_printer_window_win32
  SOURCES ${T}/printer_window/contract/printer_window_contract.cpp
    ${T}/printer_window/contract/win32_driver.cpp
  LIBS vorpane_printer_window_win32)
add_test(NAME test_printer_window_wine
  COMMAND ${PROJECT_SOURCE_DIR}/tests/printer_window/printer-window-wine-test.sh ${CMAKE_BINARY_DIR}
    ${VORPANE_WINE_DIR})
set_tests_properties(test_printer_window_wine PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED wine)

# vorpane-printer.exe --render-file draws the same pictures as the Linux
# build's vorpane-printer, found in a Linux build tree (scripts/test.sh's).
set(VORPANE_LINUX_BUILD ${PROJECT_SOURCE_DIR}/build CACHE PATH
  "A Linux build tree whose vorpane-printer the Windows pictures are compared with")
add_test(NAME test_render_wine
  COMMAND ${PROJECT_SOURCE_DIR}/tests/printer/render-wine-test.sh ${CMAKE_BINARY_DIR}
    ${VORPANE_WINE_DIR} ${VORPANE_LINUX_BUILD}/printer/vorpane-printer)
set_tests_properties(test_render_wine PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED wine
  SKIP_RETURN_CODE 77)

# vorpane-printer.exe renders into a folder named outside the ANSI code page.
add_test(NAME test_render_folder_wine
  COMMAND ${PROJECT_SOURCE_DIR}/tests/printer/render-folder-wine-test.sh ${CMAKE_BINARY_DIR}
    ${VORPANE_WINE_DIR})
set_tests_properties(test_render_folder_wine PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED wine)

# vorpane.exe driven from outside against vorpane-printer.exe on a loopback
# address of its own; both programs are found beside the test.
vorpane_add_wine_test(NAME test_e2e
  SOURCES ${T}/app/test_e2e_windows.cpp
  LIBS vorpane_app vorpane_win32
  ARGS --gtest_filter=VorpaneOnWindows.*
  TIMEOUT 300)
add_dependencies(test_e2e vorpane vorpane-printer)
target_compile_definitions(test_e2e PRIVATE
  VORPANE_EXE="app/vorpane.exe" VORPANE_PRINTER_EXE="printer/vorpane-printer.exe")

# vorpane-cli.exe from outside against two vorpane-printer.exe on loopback
# addresses of their own, in whichever ANSI code page the locale gives wine.
add_test(NAME test_cli_wine
  COMMAND ${PROJECT_SOURCE_DIR}/tests/cli/cli-wine-test.sh ${CMAKE_BINARY_DIR} ${VORPANE_WINE_DIR})
set_tests_properties(test_cli_wine PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED wine)

# The installer: made, installed silently, the installed program started
# and closed, uninstalled (the e2e test's executable looks at the window).
add_test(NAME test_installer
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/installer-test.sh ${CMAKE_BINARY_DIR} ${VORPANE_WINE_DIR})
set_tests_properties(test_installer PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED wine)
