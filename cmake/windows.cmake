# The Windows build: the layers that build for Windows so far (the platform
# and the window-system seam with its Win32 backend) and their tests, which
# ctest runs under wine. Included from the top-level list, after the layer
# function, when the target system is Windows.

enable_language(RC)

add_subdirectory(platform)
add_subdirectory(ui)

# The dialogs' templates alone, for the layout demo and the backend's tests.
add_library(vorpane_dialog_templates STATIC
  app/main_dialog_template.cpp
  status/status_dialog_template.cpp)
target_include_directories(vorpane_dialog_templates PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vorpane_dialog_templates PUBLIC vorpane_ui)

# Shows the main window, the status dialog and the About box side by side,
# for a look at the layout under wine (scripts/wine-run.sh start, exec, shot).
add_executable(vorpane_win32_demo WIN32 app/win32_layout_demo.cpp)
target_link_libraries(vorpane_win32_demo PRIVATE vorpane_dialog_templates vorpane_win32)

if(VORPANE_TESTS)
  # GoogleTest from Debian's sources, built with the cross compiler; its
  # own list names the targets GTest::gtest and GTest::gmock, as
  # find_package does on Linux. Its warnings are not this project's.
  set(VORPANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to cross-build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VORPANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -Wno-error)
  endforeach()

  enable_testing()
  # One wine session for the whole run: the first test brings up the X
  # server, the prefix and a persistent wineserver, the last one stops them.
  set(VORPANE_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh)
  add_test(NAME wine_start COMMAND ${VORPANE_WINE_RUN} start ${CMAKE_BINARY_DIR}/wine)
  add_test(NAME wine_stop COMMAND ${VORPANE_WINE_RUN} stop ${CMAKE_BINARY_DIR}/wine)
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

  add_library(vorpane_test_main STATIC tests/common/test_main.cpp)
  target_link_libraries(vorpane_test_main PUBLIC GTest::gtest)

  # vorpane_add_wine_test(NAME name SOURCES ... LIBS ... [TIMEOUT s])
  function(vorpane_add_wine_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common
      ${PROJECT_SOURCE_DIR})
    target_link_libraries(${T_NAME} PRIVATE vorpane_test_main ${T_LIBS})
    if(NOT T_TIMEOUT)
      set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} FIXTURES_REQUIRED wine)
  endfunction()

  add_subdirectory(tests/ui/win32)
endif()
