# The desktop program with its menu entry and icon, in the install component
# Corvix_Application:
#   bin/corvix
#   share/applications/corvix.desktop
#   share/icons/hicolor/scalable/apps/corvix.svg
#   share/man/man1/corvix.1.gz
# the documents of the command line and of the whole, in Corvix_Development beside corvix-cli:
#   share/man/man1/corvix-cli.1.gz
#   share/bash-completion/completions/corvix-cli
#   share/doc/corvix/copyright           LICENSE in Debian's machine-readable form
#   share/doc/corvix/changelog.gz        CHANGELOG.md in Debian's form
# and the Debian package: `cpack -G DEB` in the build folder packs every component into one
# corvix_VERSION_ARCH.deb that installs under /usr.
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

# The man pages, one scdoc source each, gzip-compressed as Debian wants them. The package test
# checks them, so a build with tests needs scdoc.
if(CORVIX_BUILD_TESTS)
    set(CORVIX_SCDOC_REQUIRED REQUIRED)
endif()
find_program(CORVIX_SCDOC scdoc ${CORVIX_SCDOC_REQUIRED})
if(CORVIX_SCDOC)
    set(CORVIX_MAN_PAGES corvix-cli)
    if(TARGET corvix)
        list(APPEND CORVIX_MAN_PAGES corvix)
    endif()
    file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/man")
    set(CORVIX_MAN_FILES)
    foreach(page IN LISTS CORVIX_MAN_PAGES)
        set(source "${PROJECT_SOURCE_DIR}/packaging/${page}.1.scd")
        set(page_file "${PROJECT_BINARY_DIR}/man/${page}.1")
        add_custom_command(OUTPUT "${page_file}.gz"
            COMMAND sh -c "\"$1\" < \"$2\" > \"$3\"" sh "${CORVIX_SCDOC}" "${source}" "${page_file}"
            COMMAND gzip -9nf "${page_file}"
            DEPENDS "${source}" COMMENT "Writing the man page ${page}(1)" VERBATIM
        )
        list(APPEND CORVIX_MAN_FILES "${page_file}.gz")
        set(component Corvix_Development)
        if(page STREQUAL "corvix")
            set(component Corvix_Application)
        endif()
        install(FILES "${page_file}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
            COMPONENT ${component}
        )
    endforeach()
    add_custom_target(corvix_man_pages ALL DEPENDS ${CORVIX_MAN_FILES})
else()
    message(STATUS "scdoc not found: the man pages are not built")
endif()

install(FILES "${PROJECT_SOURCE_DIR}/packaging/corvix-cli.bash-completion"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions" RENAME corvix-cli
    COMPONENT Corvix_Development
)

# The copyright file in Debian's machine-readable form, its license text taken from LICENSE.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+)$")
    message(FATAL_ERROR "LICENSE has no line 'Copyright (c) YEAR HOLDER' before its text")
endif()
set(CORVIX_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " CORVIX_LICENSE_TEXT "${license}")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/packaging/copyright" @ONLY CONTENT [[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Corvix
Upstream-Contact: @CORVIX_PACKAGE_CONTACT@

Files: *
Copyright: @CORVIX_COPYRIGHT@
License: Expat
 @CORVIX_LICENSE_TEXT@
]])

# The changelog in Debian's form, made from CHANGELOG.md whenever it (or the version) changes.
set(CORVIX_CHANGELOG "${PROJECT_BINARY_DIR}/packaging/changelog")
add_custom_command(OUTPUT "${CORVIX_CHANGELOG}.gz"
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE=${PROJECT_SOURCE_DIR}/CHANGELOG.md"
            "-DOUTPUT=${CORVIX_CHANGELOG}" -DPACKAGE=corvix "-DVERSION=${PROJECT_VERSION}"
            "-DMAINTAINER=${CORVIX_PACKAGE_CONTACT}"
            -P "${CMAKE_CURRENT_LIST_DIR}/DebianChangelog.cmake"
    COMMAND gzip -9nf "${CORVIX_CHANGELOG}"
    DEPENDS "${PROJECT_SOURCE_DIR}/CHANGELOG.md" "${PROJECT_SOURCE_DIR}/CMakeLists.txt"
            "${CMAKE_CURRENT_LIST_DIR}/DebianChangelog.cmake"
    COMMENT "Writing the Debian changelog from CHANGELOG.md" VERBATIM
)
add_custom_target(corvix_changelog ALL DEPENDS "${CORVIX_CHANGELOG}.gz")
install(FILES "${PROJECT_BINARY_DIR}/packaging/copyright" "${CORVIX_CHANGELOG}.gz"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/corvix" COMPONENT Corvix_Development
)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvix)
set(CPACK_PACKAGE_VENDOR Corvix)
set(CPACK_PACKAGE_CONTACT "${CORVIX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Encrypt application assets into .enc files")
# Debian wants the lines of the long description at most 80 characters long, and none
# starting with a full stop.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Corvix encrypts the pictures, texts and JSON files that an application ships\n"
    "into .enc files, with the desktop window corvix or with corvix-cli in build\n"
    "scripts, and gives the application C++ libraries (with a CMake package) that\n"
    "read them back.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The programs' library dependencies come from dpkg-shlibdeps (among them libipsec-mb1 when they
# were built with the multi-buffer library); building an app against the package also needs the
# development files of OpenSSL and Qt, not that library, which no installed library links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libssl-dev, qt6-base-dev")
set(CPACK_STRIP_FILES ON)
include(CPack)
