# A Debian package of the installed files: `cpack -G DEB` in a build folder configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/package.sh does both).
string(TOLOWER ${PROJECT_NAME} CPACK_PACKAGE_NAME)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tessaly")
set(CPACK_PACKAGE_CONTACT "Tessaly developers <tessaly@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CNMARC record files as a list and a spreadsheet")
set(CPACK_PACKAGE_DESCRIPTION "Tessaly opens a file of CNMARC bibliographic records (GBK or \
UTF-8), shows one row of thirteen cells per record (title, author, ISBN, price, place, \
publisher, date, pages, size, accompanying material, class number, subject heading, summary) \
and copies the list into LibreOffice Calc. marcrows prints the same rows as text or writes \
them into an .xlsx workbook without a spreadsheet program.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies are computed at packaging time by dpkg-shlibdeps, apart for the programs and for
# the Calc module: what only the module needs (LibreOffice's UNO libraries) is recommended with
# LibreOffice Calc, not required, since Tessaly starts and decodes without an office.
set(TESSALY_DEB_MODULE "")
if(TARGET tessaly_calc)
  set(TESSALY_DEB_MODULE "$<TARGET_FILE:tessaly_calc>")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian_depends.cmake.in
               ${CMAKE_BINARY_DIR}/debian_depends.cmake.gen @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/debian_depends.cmake
     INPUT ${CMAKE_BINARY_DIR}/debian_depends.cmake.gen)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/debian_depends.cmake)
include(CPack)

# The licence as Debian keeps it, /usr/share/doc/tessaly/copyright, in Debian's machine-readable
# format, made from LICENSE (Debian calls the MIT licence "Expat"). Its text follows the summary
# line, each line indented by a space and an empty line written " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE TESSALY_LICENSE_TEXT)
string(REGEX REPLACE "\n+$" "" TESSALY_LICENSE_TEXT "${TESSALY_LICENSE_TEXT}")
string(REGEX REPLACE "^MIT License\n\n" "" TESSALY_LICENSE_TEXT "${TESSALY_LICENSE_TEXT}")
string(REPLACE "\n\n" "\n.\n" TESSALY_LICENSE_TEXT "${TESSALY_LICENSE_TEXT}")
string(REPLACE "\n" "\n " TESSALY_LICENSE_TEXT "${TESSALY_LICENSE_TEXT}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: 2026 The Tessaly developers
License: Expat
 ${TESSALY_LICENSE_TEXT}
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
install(FILES ${CMAKE_BINARY_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
