# The Windows build: every layer of the program with its Windows side,
# vorpane.exe and vorpane-printer.exe, their tests under wine, and the
# installer. Included from the top-level list, after the layer function,
# when the target system is Windows.

enable_language(RC)

# The renderer's zlib is the static one of Debian's libz-mingw-w64-dev: no
# DLL goes beside the programs.
set(ZLIB_USE_STATIC_LIBS ON)

foreach(layer ${VORPANE_LAYERS})
  add_subdirectory(${layer})
endforeach()
add_subdirectory(emulator)

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
  enable_testing()
  include(tests/wine.cmake)
endif()
include(packaging/windows.cmake)
