# The Windows installer (CPack's NSIS generator, Debian's nsis) and a zip of
# the programs. Every executable is static: beside them goes only the
# virtual printer's font, with its copyright and the licence it names.
#   cmake --build build-win --target package
install(TARGETS vorpane vorpane-printer vorpane-printer-window vorpane-cli RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
install(FILES ${VORPANE_FONT} DESTINATION fonts RENAME wqy-zenhei.ttc)
install(FILES /usr/share/doc/fonts-wqy-zenhei/copyright DESTINATION fonts
  RENAME wqy-zenhei-copyright.txt)
install(FILES /usr/share/common-licenses/GPL-2 DESTINATION fonts RENAME GPL-2.txt)

set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME Vorpane)
set(CPACK_PACKAGE_VENDOR "Vorpane maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for ESC/POS network receipt printers")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Vorpane)
set(CPACK_PACKAGE_FILE_NAME Vorpane-${PROJECT_VERSION}-win64)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The Start menu gets the program; vorpane-printer and vorpane-cli are
# console programs started with options, so they have no entry of their own.
set(CPACK_PACKAGE_EXECUTABLES vorpane Vorpane)
set(CPACK_NSIS_DISPLAY_NAME "Vorpane ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME Vorpane)
set(CPACK_NSIS_INSTALLED_ICON_NAME vorpane.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/ui/win32/resources/vorpane.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/ui/win32/resources/vorpane.ico)
# A 64-bit installer for 64-bit programs: it needs no 32-bit Windows layer
# (wine64 alone runs it), sees the 64-bit registry and puts the programs
# under "Program Files", not "Program Files (x86)".
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
include(CPack)
