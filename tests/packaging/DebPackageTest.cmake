# Packs the build folder into a .deb with cpack and checks what the package holds and needs:
# the programs, the menu entry (valid for desktop-file-validate), the icon (well-formed XML),
# the libraries and the CMake package. The package depends on Intel's multi-buffer library exactly
# when the programs were built with it.
#   -D BUILD_DIR=  -D WORK_DIR=  -D CPACK=  -D WITH_WINDOW=ON|OFF  -D WITH_IPSEC_MB=ON|OFF
cmake_minimum_required(VERSION 3.24)
file(REMOVE_RECURSE "${WORK_DIR}")

include("${CMAKE_CURRENT_LIST_DIR}/../support/RunCommand.cmake")

run(out "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}")
file(GLOB debs "${WORK_DIR}/corvix_*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one corvix_*.deb in ${WORK_DIR}, found: ${debs}\n${out}")
endif()

run(listing dpkg-deb --contents "${debs}")
message(STATUS "${listing}")
set(expected
    usr/bin/corvix-cli
    usr/lib/libcorvix_core.a
    usr/include/corvix/AESUtils.h
    usr/lib/cmake/Corvix/CorvixConfig.cmake
    usr/lib/cmake/Corvix/CorvixTargets.cmake
    usr/lib/cmake/Corvix/CorvixAssets.cmake
)
set(needs libssl3)
if(WITH_WINDOW)
    list(APPEND expected usr/bin/corvix usr/share/applications/corvix.desktop
         usr/share/icons/hicolor/scalable/apps/corvix.svg)
    list(APPEND needs libqt6widgets6)
endif()
foreach(path IN LISTS expected)
    string(FIND "${listing}" " ./${path}\n" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the package does not hold /${path}")
    endif()
endforeach()

run(depends dpkg-deb --field "${debs}" Depends)
message(STATUS "Depends: ${depends}")
foreach(package IN LISTS needs)
    if(NOT depends MATCHES "(^|[ ,])${package}([ ,(]|\n|$)")
        message(FATAL_ERROR "the package does not depend on ${package}: ${depends}")
    endif()
endforeach()
if(WITH_IPSEC_MB AND NOT depends MATCHES "libipsec-mb1")
    message(FATAL_ERROR "the programs use the multi-buffer library, the package does not need it")
elseif(NOT WITH_IPSEC_MB AND depends MATCHES "libipsec-mb")
    message(FATAL_ERROR "the package needs the multi-buffer library, no program uses it")
endif()

if(WITH_WINDOW)
    run(out dpkg-deb --extract "${debs}" "${WORK_DIR}/root")
    run(out desktop-file-validate "${WORK_DIR}/root/usr/share/applications/corvix.desktop")
    message(STATUS "${out}")
    run(out xmllint --noout "${WORK_DIR}/root/usr/share/icons/hicolor/scalable/apps/corvix.svg")
endif()
