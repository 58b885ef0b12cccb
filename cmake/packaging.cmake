# Release archives of whatever the build installs: `cpack` in the build folder
# (or `cmake --build <dir> --target package`).
#   Windows: ruvo-<version>-windows-x86_64.zip holding bin/ruvo.exe
#   Linux:   ruvo-<version>-linux-<arch>.tar.gz holding bin/ruvo and, when
#            the local service is built, bin/ruvo-gui.exe beside it (where
#            the launcher looks for it)
set(CPACK_PACKAGE_NAME ruvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line and MCP client of the Ruvo local term service")
set(CPACK_PACKAGE_VENDOR "Ruvo")
set(CPACK_PACKAGE_CHECKSUM SHA256)
# Debug information stays in the build folder.
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  string(TOLOWER "windows-${CMAKE_SYSTEM_PROCESSOR}" _ruvo_package_system)
else()
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" _ruvo_package_system)
endif()
set(CPACK_SYSTEM_NAME ${_ruvo_package_system})
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
unset(_ruvo_package_system)

include(CPack)
