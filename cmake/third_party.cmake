# The command-line program's libraries from Debian: CLI11 for its
# arguments, nlohmann-json for its JSON lines, cpp-httplib for the client
# side of its metrics tests. Each comes as an interface target of the same name on both
# systems: vorpane_cli11, vorpane_json, vorpane_httplib.

add_library(vorpane_cli11 INTERFACE)
add_library(vorpane_json INTERFACE)
add_library(vorpane_httplib INTERFACE)

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Windows")
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json CONFIG REQUIRED)
  find_package(PkgConfig REQUIRED)
  # Debian's cpp-httplib is a shared library; its pkg-config file carries
  # the feature definitions its header must be read with.
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(vorpane_cli11 INTERFACE CLI11::CLI11)
  target_link_libraries(vorpane_json INTERFACE nlohmann_json::nlohmann_json)
  target_link_libraries(vorpane_httplib INTERFACE PkgConfig::HTTPLIB Threads::Threads)
  return()
endif()

# The cross compiler must not see the host's /usr/include as a whole, so the
# header-only libraries are offered through a folder of links to just their
# own headers. cpp-httplib's whole header comes from Debian's source package
# (scripts/setup.sh puts it there): the binary package has only the half
# that goes with its Linux library.
set(VORPANE_HTTPLIB_SOURCE /usr/local/src/vorpane-deps/cpp-httplib
  CACHE PATH "Folder holding cpp-httplib's whole httplib.h")
set(view ${CMAKE_BINARY_DIR}/third_party/include)
file(REMOVE_RECURSE ${view})
file(MAKE_DIRECTORY ${view})
foreach(item /usr/include/CLI /usr/include/nlohmann ${VORPANE_HTTPLIB_SOURCE}/httplib.h)
  if(NOT EXISTS ${item})
    message(FATAL_ERROR "${item} is missing: run scripts/setup.sh")
  endif()
  get_filename_component(name ${item} NAME)
  file(CREATE_LINK ${item} ${view}/${name} SYMBOLIC)
endforeach()
foreach(target vorpane_cli11 vorpane_json vorpane_httplib)
  target_include_directories(${target} SYSTEM INTERFACE ${view})
endforeach()
target_link_libraries(vorpane_httplib INTERFACE ws2_32)
