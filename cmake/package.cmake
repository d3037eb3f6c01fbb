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
