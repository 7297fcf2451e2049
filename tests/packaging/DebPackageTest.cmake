# Packs the build folder into a .deb with cpack and checks what the package holds and needs:
# the programs with their man pages and completion, the menu entry (valid for
# desktop-file-validate), the icon (well-formed XML), the libraries and the CMake package. The
# package depends on Intel's multi-buffer library exactly when the programs were built with it.
# lintian finds neither an error nor a warning, and bash completes the commands, a command's own
# options and the files each one takes.
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
set(expected usr/bin/corvix-cli usr/share/man/man1/corvix-cli.1.gz
    usr/share/bash-completion/completions/corvix-cli usr/lib/libcorvix_core.a
    usr/include/corvix/AESUtils.h usr/lib/cmake/Corvix/CorvixConfig.cmake
    usr/lib/cmake/Corvix/CorvixTargets.cmake usr/lib/cmake/Corvix/CorvixAssets.cmake)
set(needs libssl3)
if(WITH_WINDOW)
    list(APPEND expected usr/bin/corvix usr/share/man/man1/corvix.1.gz
         usr/share/applications/corvix.desktop usr/share/icons/hicolor/scalable/apps/corvix.svg)
    list(APPEND needs libqt6widgets6)
endif()
foreach(path IN LISTS expected)
    if(NOT listing MATCHES " \\./${path}\n")
        message(FATAL_ERROR "the package does not hold /${path}")
    endif()
endforeach()

run(depends dpkg-deb --field "${debs}" Depends)
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

run(out lintian --fail-on error,warning "${debs}")

set(root "${WORK_DIR}/root")
run(out dpkg-deb --extract "${debs}" "${root}")
if(WITH_WINDOW)
    run(out desktop-file-validate "${root}/usr/share/applications/corvix.desktop")
    run(out xmllint --noout "${root}/usr/share/icons/hicolor/scalable/apps/corvix.svg")
endif()

# Each row: the command line typed so far, then what bash offers, in a folder of three files.
set(complete [=[
source /usr/share/bash-completion/bash_completion && source "$1" || exit 1
mkdir -p "$3/sub" && cd "$3" && touch a.enc b.txt key.pem || exit 1
read -ra COMP_WORDS <<<"$2" && [[ $2 == *" " ]] && COMP_WORDS+=("")
COMP_LINE=$2 COMP_POINT=${#2} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
_corvix_cli
printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ']=]) # no semicolon: run() takes a list
foreach(row "corvix-cli |--help --version cat decrypt encrypt key keygen manifest verify"
        "corvix-cli cat --o|--offset" "corvix-cli verify -q |a.enc sub"
        "corvix-cli encrypt |a.enc b.txt key.pem sub" "corvix-cli manifest --sign-key |key.pem sub")
    string(REGEX MATCH "^([^|]*)[|](.*)$" line "${row}")
    set(want "${CMAKE_MATCH_2}")
    run(got bash -c "${complete}" bash "${root}/usr/share/bash-completion/completions/corvix-cli"
        "${CMAKE_MATCH_1}" "${WORK_DIR}/files")
    string(STRIP "${got}" got)
    if(NOT got STREQUAL want)
        message(FATAL_ERROR "'${row}': bash offers '${got}'")
    endif()
endforeach()
