# Install rules and packages: `cmake --install` puts the program, its manual
# page, the README and the example site in place; CPack makes a Debian
# package on Linux and a .zip of the cross-built Windows program.
include(GNUInstallDirs)

if(WIN32)
  # Everything at the top of the zip: the .exe, the example site and the
  # README with Windows line ends.
  file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${readme}")
  install(TARGETS tembrix RUNTIME DESTINATION .)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  install(DIRECTORY example/ DESTINATION example
          REGEX "example/temb/.+" EXCLUDE
          REGEX "example/layout/temb/.*[.](gitkeep|html)$" EXCLUDE)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME
      "${PROJECT_NAME}-${PROJECT_VERSION}-windows-x86_64")
else()
  # Debian wants the manual page and the changelog compressed, reproducibly.
  foreach(doc tembrix.1 changelog)
    add_custom_command(
      OUTPUT ${PROJECT_BINARY_DIR}/${doc}.gz
      COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/doc/${doc} >
              ${PROJECT_BINARY_DIR}/${doc}.gz
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/${doc})
  endforeach()
  add_custom_target(docs ALL DEPENDS ${PROJECT_BINARY_DIR}/tembrix.1.gz
                                     ${PROJECT_BINARY_DIR}/changelog.gz)
  install(TARGETS tembrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/tembrix.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md doc/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY example DESTINATION ${CMAKE_INSTALL_DOCDIR}
          REGEX "example/temb/.+" EXCLUDE
          REGEX "example/layout/temb/.*[.](gitkeep|html)$" EXCLUDE)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION web)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends found from the binary by dpkg-shlibdeps (package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tembrix developers")
set(CPACK_PACKAGE_CONTACT "Tembrix developers <tembrix@example.org>")
# The summary is the first line of the package description; CPack indents
# the lines of the rest.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "give a set of HTML pages a common look from one template")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tembrix applies one template page to each input page and writes the merged
page into the folder temb. The template gives the frame: everything before
its head tag, its body tag and its body around a marker; each page gives its
head content and its body content. It is driven from a text menu (merge one
file, or every file named in a list file) or, for scripts, from its command
line, with an exit status that tells whether every page was merged.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
include(CPack)
