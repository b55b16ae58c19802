# The Windows build: every layer of the program with its Windows side,
# vorpane.exe and vorpane-printer.exe, their tests under wine, and the
# installer. Included from the top-level list, after the layer function,
# when the target system is Windows.

enable_language(RC)

# The renderer's zlib is the static one of Debian's libz-mingw-w64-dev: no
# DLL goes beside the programs.
set(ZLIB_USE_STATIC_LIBS ON)

foreach(folder ${VORPANE_FOLDERS})
  add_subdirectory(${folder})
endforeach()

# The dialogs' templates alone, for the backend's tests.
add_library(vorpane_dialog_templates STATIC
  app/main_dialog_template.cpp
  status/status_dialog_template.cpp)
target_include_directories(vorpane_dialog_templates PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vorpane_dialog_templates PUBLIC vorpane_ui)

if(VORPANE_TESTS)
  enable_testing()
  include(tests/wine.cmake)
endif()
include(packaging/windows.cmake)
