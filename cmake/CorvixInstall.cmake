# `cmake --install` puts what another CMake project needs to read Corvix files in place:
#   bin/corvix-cli
#   lib/                      libcorvix_core.a, libcorvix_runtime.a
#   include/corvix/*.h        the public API, flat: #include <corvix/CorvixUtils.h>
#   lib/cmake/Corvix/         the package: find_package(Corvix) gives Corvix::core and
#                             Corvix::runtime (components "core" and "runtime"), Corvix::cli
#                             and corvix_encrypt_assets() (CorvixAssets.cmake, with
#                             CorvixKeySource.cmake for its KEY_FILE)
# Everything here belongs to the install component Corvix_Development. The multi-buffer backend
# (corvix_multibuffer) is linked into the programs only and not installed, so the package carries
# no dependency on its library.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CORVIX_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Corvix")
set(CORVIX_INSTALLED_TARGETS corvix_core corvix-cli)
set_target_properties(corvix_core PROPERTIES EXPORT_NAME core)
# An app's build runs the tool to encrypt its assets, so it ships with the libraries.
set_target_properties(corvix-cli PROPERTIES EXPORT_NAME cli)
set(CORVIX_WITH_RUNTIME OFF)
if(TARGET corvix_runtime)
    set(CORVIX_WITH_RUNTIME ON)
    list(APPEND CORVIX_INSTALLED_TARGETS corvix_runtime)
    set_target_properties(corvix_runtime PROPERTIES EXPORT_NAME runtime)
endif()

install(TARGETS ${CORVIX_INSTALLED_TARGETS} EXPORT CorvixTargets
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Corvix_Development
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT Corvix_Development
    RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT Corvix_Development
)
# Only the public API; the headers of the layers below it stay in the source tree.
set(CORVIX_INSTALLED_HEADERS ${CORVIX_PUBLIC_HEADERS})
if(CORVIX_WITH_RUNTIME)
    list(APPEND CORVIX_INSTALLED_HEADERS ${CORVIX_RUNTIME_HEADERS})
endif()
install(FILES ${CORVIX_INSTALLED_HEADERS} DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/corvix"
    COMPONENT Corvix_Development
)
install(EXPORT CorvixTargets NAMESPACE Corvix:: DESTINATION "${CORVIX_INSTALL_CMAKEDIR}"
    COMPONENT Corvix_Development
)

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/CorvixConfig.cmake.in"
    "${PROJECT_BINARY_DIR}/CorvixConfig.cmake"
    INSTALL_DESTINATION "${CORVIX_INSTALL_CMAKEDIR}"
)
# 0.x releases may change the interface with every minor version.
write_basic_package_version_file("${PROJECT_BINARY_DIR}/CorvixConfigVersion.cmake"
    COMPATIBILITY SameMinorVersion
)
install(FILES "${PROJECT_BINARY_DIR}/CorvixConfig.cmake"
    "${PROJECT_BINARY_DIR}/CorvixConfigVersion.cmake" "${CMAKE_CURRENT_LIST_DIR}/CorvixAssets.cmake"
    "${CMAKE_CURRENT_LIST_DIR}/CorvixKeySource.cmake"
    DESTINATION "${CORVIX_INSTALL_CMAKEDIR}" COMPONENT Corvix_Development
)
