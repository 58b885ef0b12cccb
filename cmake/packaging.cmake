# What an install holds and the packages CPack makes of it: `cpack` in the
# build folder (or `cmake --build <dir> --target package`), `cpack -G DEB`
# for the Debian package (scripts/package-deb.sh).
#   Windows: ruvo-<version>-windows-x86_64.zip holding ruvo.exe, README.txt
#            (where it goes, registering `ruvo mcp`) and the licence, when
#            the tree has one
#   Linux:   ruvo-<version>-linux-<arch>.tar.gz and ruvo_<version>_<arch>.deb,
#            the same tree: the programs side by side in lib/ruvo (where the
#            launcher looks for ruvo-gui.exe), links to them in bin, the
#            manual pages, bash completion, the desktop entry and its icon
set(CPACK_PACKAGE_NAME ruvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "term dictionary client for people and AI agents")
set(CPACK_PACKAGE_DESCRIPTION
    "ruvo explains words, sentences and passages from a local term store and\n"
    "asks a language model only when the store does not hold the text and the\n"
    "caller allows it. It is used from the command line or, as an MCP server\n"
    "(ruvo mcp), by AI agents.\n"
    "\n"
    "The package holds ruvo and ruvo-gui.exe, the local term service that ruvo\n"
    "starts on demand: a SQLite store with a starter glossary, served over\n"
    "token-checked HTTP on 127.0.0.1, and the client of an OpenAI-compatible\n"
    "model endpoint.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_VENDOR "Ruvo")
set(CPACK_PACKAGE_CHECKSUM SHA256)
# Debug information stays in the build folder.
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")

set(_ruvo_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_ruvo_staged ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_ruvo_staged})

if(WIN32)
  # Notepad and every Windows editor read a UTF-8 file with a byte-order
  # mark and CR LF line ends as meant.
  file(READ ${_ruvo_packaging}/windows/README.txt _ruvo_readme)
  string(REPLACE "@RUVO_VERSION@" "${PROJECT_VERSION}" _ruvo_readme "${_ruvo_readme}")
  string(REPLACE "\n" "\r\n" _ruvo_readme "${_ruvo_readme}")
  string(ASCII 239 187 191 _ruvo_bom)
  file(WRITE ${_ruvo_staged}/README.txt "${_ruvo_bom}${_ruvo_readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_ruvo_packaging}/windows/README.txt)
  install(FILES ${_ruvo_staged}/README.txt DESTINATION .)
  if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  endif()
  set(CPACK_GENERATOR ZIP)
  string(TOLOWER "windows-${CMAKE_SYSTEM_PROCESSOR}" _ruvo_package_system)
else()
  # The commands are links into lib/ruvo, relative so that any prefix works;
  # ruvo resolves its own path and finds ruvo-gui.exe beside the real file.
  file(CREATE_LINK ../${RUVO_PROGRAM_DIR}/ruvo ${_ruvo_staged}/ruvo SYMBOLIC)
  install(FILES ${_ruvo_staged}/ruvo DESTINATION bin)
  if(TARGET ruvo_gui)
    file(CREATE_LINK ../${RUVO_PROGRAM_DIR}/ruvo-gui.exe ${_ruvo_staged}/ruvo-gui SYMBOLIC)
    install(FILES ${_ruvo_staged}/ruvo-gui DESTINATION bin)
  endif()

  # Debian's maintainer and date, for the control file and the changelog.
  set(RUVO_DEB_MAINTAINER "Ruvo developers <developers@ruvo.example.org>" CACHE STRING
      "Maintainer of the Debian package: name and address")
  string(TIMESTAMP RUVO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${_ruvo_packaging}/linux/changelog.in ${_ruvo_staged}/changelog @ONLY)

  # Manual pages and the changelog are installed compressed, without a
  # time stamp in the gzip header, so the same tree gives the same files.
  set(_ruvo_compressed "")
  foreach(_ruvo_source ${_ruvo_packaging}/linux/ruvo.1 ${_ruvo_packaging}/linux/ruvo-gui.1 ${_ruvo_staged}/changelog)
    get_filename_component(_ruvo_name ${_ruvo_source} NAME)
    add_custom_command(OUTPUT ${_ruvo_staged}/${_ruvo_name}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_ruvo_staged}/gz
      COMMAND ${CMAKE_COMMAND} -E copy ${_ruvo_source} ${_ruvo_staged}/gz/${_ruvo_name}
      COMMAND gzip -9nf ${_ruvo_staged}/gz/${_ruvo_name}
      COMMAND ${CMAKE_COMMAND} -E rename ${_ruvo_staged}/gz/${_ruvo_name}.gz ${_ruvo_staged}/${_ruvo_name}.gz
      DEPENDS ${_ruvo_source}
      VERBATIM)
    list(APPEND _ruvo_compressed ${_ruvo_staged}/${_ruvo_name}.gz)
  endforeach()
  add_custom_target(ruvo_docs ALL DEPENDS ${_ruvo_compressed})

  install(FILES ${_ruvo_staged}/ruvo.1.gz DESTINATION share/man/man1)
  if(TARGET ruvo_gui)
    install(FILES ${_ruvo_staged}/ruvo-gui.1.gz DESTINATION share/man/man1)
    install(FILES ${_ruvo_packaging}/linux/ruvo.desktop DESTINATION share/applications)
    install(FILES ${_ruvo_packaging}/linux/ruvo.svg DESTINATION share/icons/hicolor/scalable/apps)
  endif()
  install(FILES ${_ruvo_packaging}/linux/ruvo.bash-completion
          DESTINATION share/bash-completion/completions RENAME ruvo)
  if(EXISTS ${PROJECT_SOURCE_DIR}/LICENSE)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION share/doc/ruvo RENAME copyright)
  else()
    install(FILES ${_ruvo_packaging}/linux/copyright DESTINATION share/doc/ruvo)
  endif()
  install(FILES ${_ruvo_staged}/changelog.gz DESTINATION share/doc/ruvo)
  if(RUVO_STATIC)
    install(FILES ${_ruvo_packaging}/linux/lintian-overrides DESTINATION share/lintian/overrides RENAME ruvo)
  endif()

  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" _ruvo_package_system)

  # The Debian package: ruvo_<version>_<arch>.deb, installed under /usr.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RUVO_DEB_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends from the shared libraries ruvo-gui.exe links (ruvo itself is
  # static unless RUVO_STATIC is off, and then adds its own).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Debian's computing dictionaries (GFDL), which the service adds to a new store by itself.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dict-foldoc, dict-vera, dict-jargon")
endif()
set(CPACK_SYSTEM_NAME ${_ruvo_package_system})
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME})
unset(_ruvo_package_system)

include(CPack)
