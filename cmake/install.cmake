# What `cmake --install` puts under the prefix, and the packages that CPack
# makes of it: a .deb and a tarball on Linux, a zip on Windows.
include(GNUInstallDirs)

if(WIN32)
  # Flat, as a Windows user unpacks it: the programs at the top and the
  # documents beside them, with CR LF line breaks.
  install(TARGETS memoria jogar RUNTIME DESTINATION .)
  foreach(doc README.md docs/protocol.md)
    get_filename_component(name ${doc} NAME)
    file(READ ${PROJECT_SOURCE_DIR}/${doc} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/doc/${name} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/doc/${name} DESTINATION doc)
  endforeach()
else()
  install(TARGETS memoria jogar jogar-web RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${JOGAR_WEB_PAGE} DESTINATION ${CMAKE_INSTALL_DATADIR}/memoria/web)
  install(FILES man/memoria.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES man/jogar.6 man/jogar-web.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
  install(FILES README.md docs/protocol.md docs/web.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME memoria)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The memoria developers")
set(CPACK_PACKAGE_CONTACT "The memoria developers <memoria@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rules judge of a pair-matching card game")
set(CPACK_PACKAGE_DESCRIPTION "memoria judges one move of a pair-matching card game on a \
fixed board of sixteen cards. A game front end writes two board positions into \
conector.txt and starts memoria, which prints a short Portuguese message and the \
verdict and leaves a five-line reply record in the file. The package also holds \
jogar, a terminal game, and jogar-web, a browser game with its page, both \
playing through memoria as any front end would.")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME memoria-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME memoria-${PROJECT_VERSION}-linux-x86_64)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_SECTION games)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # memoria and jogar are static; jogar-web links Debian's cpp-httplib, which
  # comes as a shared library only, so the package depends on what it needs.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
