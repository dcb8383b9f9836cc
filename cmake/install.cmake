# What `cmake --install` puts under the prefix, and the packages that CPack
# makes of it: a .deb and a tarball on Linux, a zip on Windows.
include(GNUInstallDirs)

set(MEMORIA_MAINTAINER "The memoria developers <memoria@invalid>" CACHE STRING
    "The .deb's maintainer, Name <address>: whoever releases sets it")
set(placeholder_maintainer "The memoria developers <memoria@invalid>")

# gzip -9n: the best compression, and no name or time stored, so that two
# builds give the same bytes.
function(memoria_gzip source output)
  get_filename_component(folder ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()

if(WIN32)
  # Flat, as a Windows user unpacks it: the programs at the top and the
  # documents beside them, with CR LF line breaks.
  install(TARGETS memoria jogar RUNTIME DESTINATION .)
  foreach(doc README.md docs/protocol.md LICENSE)
    get_filename_component(name ${doc} NAME)
    file(READ ${PROJECT_SOURCE_DIR}/${doc} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/doc/${name} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/doc/${name} DESTINATION doc)
  endforeach()
else()
  # Where Debian keeps games, the judge beside the games that start it.
  install(TARGETS memoria jogar jogar-web RUNTIME DESTINATION games)
  set(compressed "")
  foreach(page man/memoria.1 man/jogar.6 man/jogar-web.6)
    get_filename_component(name ${page} NAME)
    string(REGEX REPLACE ".*\\." "" section ${name})
    memoria_gzip(${PROJECT_SOURCE_DIR}/${page} ${PROJECT_BINARY_DIR}/man/${name}.gz)
    install(FILES ${PROJECT_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    list(APPEND compressed ${PROJECT_BINARY_DIR}/man/${name}.gz)
  endforeach()
  configure_file(packaging/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
  memoria_gzip(${PROJECT_BINARY_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  list(APPEND compressed ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  add_custom_target(memoria_compressed_docs ALL DEPENDS ${compressed})

  # The README links the documents under docs/: they keep that place.
  install(FILES README.md packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES docs/protocol.md docs/web.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  install(FILES docs/images/web-light.png docs/images/web-dark.png docs/images/web-phone.png
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs/images)
  install(FILES packaging/jogar-web.service DESTINATION lib/systemd/system)
  if(MEMORIA_MAINTAINER STREQUAL placeholder_maintainer)
    set(maintainer_override "# The project has no mail domain yet: the maintainer's address is a\n# placeholder until whoever releases sets MEMORIA_MAINTAINER.\nmemoria: bogus-mail-host\nmemoria: bogus-mail-host-in-debian-changelog\n")
  else()
    set(maintainer_override "")
  endif()
  configure_file(packaging/lintian-overrides.in ${PROJECT_BINARY_DIR}/packaging/memoria @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/memoria DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)
endif()

set(CPACK_PACKAGE_NAME memoria)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The memoria developers")
set(CPACK_PACKAGE_CONTACT "${MEMORIA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rules judge of a pair-matching card game")
set(CPACK_PACKAGE_DESCRIPTION "A judge of one move of a pair-matching card game on a fixed
board of sixteen cards. A game front end writes two board positions into
conector.txt and starts memoria, which prints a short Portuguese message and
the verdict and leaves a five-line reply record in the file. The package also
holds jogar, a terminal game, and jogar-web, a browser game with its page and
a service unit, both playing through memoria as any front end would.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
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
  # memoria and jogar are static; the package depends on what jogar-web
  # links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
