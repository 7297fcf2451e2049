# The desktop program with its menu entry and icon, and the Debian package.
#   bin/corvix
#   share/applications/corvix.desktop
#   share/icons/hicolor/scalable/apps/corvix.svg
# all in the install component Corvix_Application. `cpack -G DEB` in the build folder packs
# every component into one corvix_VERSION_ARCH.deb that installs under /usr.
include(GNUInstallDirs)

if(TARGET corvix)
    install(TARGETS corvix RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}"
        COMPONENT Corvix_Application
    )
    install(FILES "${PROJECT_SOURCE_DIR}/packaging/corvix.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications" COMPONENT Corvix_Application
    )
    install(FILES "${PROJECT_SOURCE_DIR}/packaging/corvix.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
        COMPONENT Corvix_Application
    )
endif()

set(CORVIX_PACKAGE_CONTACT "Corvix maintainers <maintainers@corvix.invalid>" CACHE STRING
    "Maintainer named in the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvix)
set(CPACK_PACKAGE_VENDOR Corvix)
set(CPACK_PACKAGE_CONTACT "${CORVIX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Encrypt application assets into .enc files")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Corvix encrypts the pictures, texts and JSON files an application ships into .enc files, "
    "with the desktop window corvix or with corvix-cli in build scripts, and gives the "
    "application C++ libraries (with a CMake package) that read them back.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The programs' library dependencies come from dpkg-shlibdeps (among them libipsec-mb1 when they
# were built with the multi-buffer library); building an app against the package also needs the
# development files of OpenSSL and Qt, not that library, which no installed library links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libssl-dev, qt6-base-dev")
set(CPACK_STRIP_FILES ON)
include(CPack)
