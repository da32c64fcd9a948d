# The Debian package of the log sender: `cpack -G DEB` in the build folder makes
# syncarium-sendlogfiles_<version>_<arch>.deb from what `cmake --install` puts in place.
include(GNUInstallDirs)

set(SY_PACKAGE_NAME syncarium-sendlogfiles)
set(SY_PACKAGE_DOC ${CMAKE_INSTALL_DATADIR}/doc/${SY_PACKAGE_NAME})
set(SY_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)

configure_file(${PROJECT_SOURCE_DIR}/resources/com.syncarium.sendlogfiles.metainfo.xml.in
    ${SY_PACKAGE_FILES}/com.syncarium.sendlogfiles.metainfo.xml @ONLY)
install(FILES ${SY_PACKAGE_FILES}/com.syncarium.sendlogfiles.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian keeps manual pages and changelogs compressed, without a time stamp in the header so
# that two builds give the same package.
find_program(SY_GZIP gzip REQUIRED)
function(sy_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${SY_GZIP} -9nc ${source} > ${output}
        DEPENDS ${source} VERBATIM)
endfunction()
sy_gzip(${PROJECT_SOURCE_DIR}/resources/sendLogFiles.1 ${SY_PACKAGE_FILES}/sendLogFiles.1.gz)
sy_gzip(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${SY_PACKAGE_FILES}/changelog.gz)
add_custom_target(sy_package_files ALL
    DEPENDS ${SY_PACKAGE_FILES}/sendLogFiles.1.gz ${SY_PACKAGE_FILES}/changelog.gz)
install(FILES ${SY_PACKAGE_FILES}/sendLogFiles.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${SY_PACKAGE_FILES}/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
    DESTINATION ${SY_PACKAGE_DOC})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${SY_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Syncarium support <support@syncarium.com>")
set(CPACK_PACKAGE_VENDOR "Syncarium")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packs the Syncarium client's logs for support")
# Debian's extended description: lines of at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "When Syncarium's support asks for diagnostics, the log sender gathers the\n"
    "client's logs, packs them into one zip archive while a small window shows\n"
    "the progress, puts the archive on the desktop, and opens the support form\n"
    "and the archive in the file manager.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${SY_SUPPORT_HOST}/")
# dpkg-shlibdeps works out the libraries' packages from the binary itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The desktop is asked to open the form and the folder through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_FILE_NAME_NO_CHECKS ON)
include(CPack)
