# Installation (cmake --install) and the Debian package (cpack -G DEB).
#
# Layout under the prefix:
#   bin/openinvoice, bin/btrexport, bin/mkcompany
#   lib/openinvoice/btrieve.so, the SQLite extension (".load /usr/lib/openinvoice/btrieve")
#   share/openinvoice/{skins,sounds,icons}/ and share/openinvoice/openinvoice.html,
#     which the program finds from bin/ through ../share/openinvoice
#   share/applications/, share/metainfo/, share/icons/hicolor/NxN/apps/, share/man/man1/
include(GNUInstallDirs)
set(OPENINVOICE_SHARE ${CMAKE_INSTALL_DATADIR}/openinvoice)
set(OPENINVOICE_APP_ID example.corvane.OpenInvoice)
set(OPENINVOICE_PACKAGING ${CMAKE_CURRENT_LIST_DIR})
set(OPENINVOICE_RES ${CMAKE_SOURCE_DIR}/res)

install(TARGETS btrexport mkcompany RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The SQLite extension, in the package's own library folder (engine-only builds
# too): one path to give .load whatever the machine's multiarch folder is.
install(TARGETS btrieve_sqlite LIBRARY DESTINATION lib/openinvoice)

# Manual pages, compressed as Debian wants them (gzip -n: the same bytes every build).
set(OPENINVOICE_MAN_PAGES)
foreach(page openinvoice btrexport mkcompany)
  set(gz ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9nc ${OPENINVOICE_PACKAGING}/${page}.1 > ${gz}
    DEPENDS ${OPENINVOICE_PACKAGING}/${page}.1
    VERBATIM)
  list(APPEND OPENINVOICE_MAN_PAGES ${gz})
endforeach()
add_custom_target(openinvoice_man ALL DEPENDS ${OPENINVOICE_MAN_PAGES})

if(NOT OPENINVOICE_ENGINE_ONLY)
  target_compile_definitions(openinvoice PRIVATE OPENINVOICE_VERSION="${PROJECT_VERSION}")
  install(TARGETS openinvoice RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${OPENINVOICE_RES}/skins/ DESTINATION ${OPENINVOICE_SHARE}/skins)
  install(DIRECTORY ${OPENINVOICE_RES}/sounds/ DESTINATION ${OPENINVOICE_SHARE}/sounds
          FILES_MATCHING PATTERN "*.wav")
  install(FILES ${OPENINVOICE_RES}/icons/openinvoice-16.png ${OPENINVOICE_RES}/icons/openinvoice-32.png
          DESTINATION ${OPENINVOICE_SHARE}/icons)
  install(FILES ${OPENINVOICE_RES}/help/openinvoice.html DESTINATION ${OPENINVOICE_SHARE})
  foreach(size 16 32 48 64 128 256)
    install(FILES ${OPENINVOICE_RES}/icons/openinvoice-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME openinvoice.png)
  endforeach()
  install(FILES ${OPENINVOICE_PACKAGING}/${OPENINVOICE_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${OPENINVOICE_PACKAGING}/${OPENINVOICE_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${OPENINVOICE_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  # The engine-only build installs the tools and their pages.
  install(FILES ${CMAKE_BINARY_DIR}/man/btrexport.1.gz ${CMAKE_BINARY_DIR}/man/mkcompany.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME openinvoice)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <vexel@corvane.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "see a Peachtree customer's balance and open invoices at a glance")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"A small window for bookkeepers who run Peachtree Accounting. It shows one
customer of a Peachtree company at a time (ID, billing name and address,
phone, fax, e-mail, contact and balance) and on request the customer's open
invoices. It reads the company's Btrieve files read-only, without Peachtree,
also on a share or in a Wine prefix, and follows Peachtree's user security.
.
Also holds btrexport, which inspects a Btrieve file and exports its records as
CSV, or every table of a data dictionary as CSV or into an SQLite database, an
SQLite extension that queries the files live, and mkcompany, which writes a
sample company.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.corvane.example/)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Libraries come from dpkg-shlibdeps; the rest is what the program starts or draws
# with: the desktop's opener (Print, Help, links) and the fonts the skins name.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
