# corvix_encrypt_assets(TARGET <target> SOURCES <file>... DESTINATION <dir> [KEY_FILE <file>]
#                       [MANIFEST <name> SIGNING_KEY <key.pem>])
#
# Encrypts each source into <dir>/<file name>.enc while <target> builds, with the installed
# corvix-cli. Every output depends on its own source (and on the tool), so a build encrypts
# again only the assets that changed, replacing the outputs of the earlier build. A relative
# source or key file is taken from the current source folder, a relative <dir> from the current
# build folder.
#
#   corvix_encrypt_assets(TARGET app SOURCES assets/logo.png assets/config.json
#                         DESTINATION resources)
#
# A `resources` folder beside the program is where CorvixUtils::decryptResource* looks.
#
# KEY_FILE (made by `corvix-cli keygen -o app.key`) encrypts with that key material instead of
# the built-in one, and compiles into <target> a generated source that gives the app the
# material: `#include "CorvixAppKey.h"`, then `corvixAppKey()` returns a corvix::KeyMaterial for
# the CorvixUtils overloads. The source holds the material split into masked shares; the key
# file itself is neither copied nor installed. <target> must link Corvix::core or
# Corvix::runtime, and a program takes one key file.
#
# MANIFEST (a file name) and SIGNING_KEY (an Ed25519 private key in PEM, made by `openssl genpkey
# -algorithm ed25519`) write <dir>/<name>, the manifest of the encrypted assets signed with that
# key, and compile the public key (from `openssl pkey -pubout`) into <target>: its CorvixUtils
# resource calls then read only resources that the manifest lists, and check every chunk they
# read against it. <target> must link Corvix::runtime, and a program takes one manifest.
function(corvix_encrypt_assets)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;DESTINATION;KEY_FILE;MANIFEST;SIGNING_KEY"
                          "SOURCES")
    if(arg_UNPARSED_ARGUMENTS OR NOT arg_TARGET OR NOT arg_SOURCES OR NOT arg_DESTINATION OR
       (arg_MANIFEST AND NOT arg_SIGNING_KEY) OR (arg_SIGNING_KEY AND NOT arg_MANIFEST))
        message(FATAL_ERROR "usage: corvix_encrypt_assets(TARGET <target> SOURCES <file>... "
                            "DESTINATION <dir> [KEY_FILE <file>] "
                            "[MANIFEST <name> SIGNING_KEY <key.pem>])")
    endif()
    if(NOT TARGET "${arg_TARGET}")
        message(FATAL_ERROR "corvix_encrypt_assets: there is no target ${arg_TARGET}")
    endif()
    if(NOT TARGET Corvix::cli)
        message(FATAL_ERROR "corvix_encrypt_assets: Corvix::cli (corvix-cli) is not installed")
    endif()

    cmake_path(ABSOLUTE_PATH arg_DESTINATION BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
               NORMALIZE OUTPUT_VARIABLE destination)
    set(key_option)
    set(key_file)
    if(arg_KEY_FILE)
        cmake_path(ABSOLUTE_PATH arg_KEY_FILE BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
                   NORMALIZE OUTPUT_VARIABLE key_file)
        _corvix_compile_key_material("${arg_TARGET}" "${key_file}")
        set(key_option --key-file "${key_file}")
    endif()
    set(outputs)
    foreach(source IN LISTS arg_SOURCES)
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
                   OUTPUT_VARIABLE input)
        cmake_path(GET input FILENAME name)
        set(output "${destination}/${name}.enc")
        if(output IN_LIST outputs)
            message(FATAL_ERROR "corvix_encrypt_assets: more than one source would write ${output}")
        endif()
        list(APPEND outputs "${output}")
        # Naming the imported tool in DEPENDS makes a new corvix-cli encrypt everything again.
        add_custom_command(OUTPUT "${output}"
            COMMAND Corvix::cli encrypt --quiet --force ${key_option} --output "${destination}"
                    "${input}"
            DEPENDS "${input}" ${key_file} Corvix::cli
            COMMENT "Encrypting ${name}"
            VERBATIM
        )
    endforeach()

    if(arg_MANIFEST)
        _corvix_sign_manifest("${arg_TARGET}" "${destination}" "${arg_MANIFEST}"
                              "${arg_SIGNING_KEY}" "${outputs}")
        list(APPEND outputs "${destination}/${arg_MANIFEST}")
    endif()

    set(assets_target "${arg_TARGET}_corvix_assets")
    set(count 1)
    while(TARGET "${assets_target}")
        math(EXPR count "${count} + 1")
        set(assets_target "${arg_TARGET}_corvix_assets_${count}")
    endwhile()
    add_custom_target("${assets_target}" DEPENDS ${outputs})
    add_dependencies("${arg_TARGET}" "${assets_target}")
endfunction()

# Adds to <target> the generated source that returns the material of <key_file>, once per target.
function(_corvix_compile_key_material target key_file)
    get_target_property(known "${target}" CORVIX_KEY_FILE)
    if(known STREQUAL key_file)
        return()
    elseif(known)
        message(FATAL_ERROR "corvix_encrypt_assets: ${target} has the key file ${known} already; "
                            "a program takes one key file")
    elseif(NOT EXISTS "${key_file}")
        message(FATAL_ERROR "corvix_encrypt_assets: there is no key file ${key_file} "
                            "(corvix-cli keygen -o FILE makes one)")
    endif()
    set_target_properties("${target}" PROPERTIES CORVIX_KEY_FILE "${key_file}")

    set(folder "${CMAKE_CURRENT_BINARY_DIR}/corvix_key/${target}")
    file(CONFIGURE OUTPUT "${folder}/CorvixAppKey.h" CONTENT [=[#pragma once
// Generated by corvix_encrypt_assets(... KEY_FILE).

#include <corvix/KeyMaterial.h>

/// The app's own key material, from the key file named to corvix_encrypt_assets.
[[nodiscard]] corvix::KeyMaterial corvixAppKey();
]=])
    set(generator "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CorvixKeySource.cmake")
    # Built from the key file at build time, so a new key file takes effect in the next build. The
    # source and its object file hold the material: both are made with the umask 077 (mode 0600),
    # the object in a library of its own so that the app's other objects keep their modes.
    set(private_umask sh -c "umask 077 && exec \"$0\" \"$@\"")
    add_custom_command(OUTPUT "${folder}/CorvixAppKey.cpp"
        COMMAND ${private_umask} "${CMAKE_COMMAND}" "-DCLI=$<TARGET_FILE:Corvix::cli>"
                "-DKEY_FILE=${key_file}" "-DOUTPUT=${folder}/CorvixAppKey.cpp" -P "${generator}"
        DEPENDS "${key_file}" "${generator}" Corvix::cli
        COMMENT "Compiling in the key material of ${key_file}"
        VERBATIM
    )
    add_library("${target}_corvix_key" OBJECT "${folder}/CorvixAppKey.cpp")
    set_target_properties("${target}_corvix_key" PROPERTIES CXX_COMPILER_LAUNCHER "${private_umask}")
    target_link_libraries("${target}_corvix_key" PRIVATE Corvix::core)
    target_sources("${target}" PRIVATE $<TARGET_OBJECTS:${target}_corvix_key>)
    target_include_directories("${target}" PRIVATE "${folder}")
endfunction()

# Writes the signed manifest of <outputs> as <destination>/<name> and compiles into <target> a
# source that makes its resource calls require it, with the public key of <signing_key>.
function(_corvix_sign_manifest target destination name signing_key outputs)
    cmake_path(GET name FILENAME file_name)
    get_target_property(known "${target}" CORVIX_MANIFEST)
    if(NOT name STREQUAL file_name OR name MATCHES "^\\.\\.?$")
        message(FATAL_ERROR "corvix_encrypt_assets: MANIFEST takes a file name, not ${name}: "
                            "the manifest lies beside the resources it lists")
    elseif(known)
        message(FATAL_ERROR "corvix_encrypt_assets: ${target} has the manifest ${known} already; "
                            "a program takes one manifest")
    endif()
    set_target_properties("${target}" PROPERTIES CORVIX_MANIFEST "${name}")
    cmake_path(ABSOLUTE_PATH signing_key BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
    find_program(CORVIX_OPENSSL_COMMAND openssl)
    execute_process(COMMAND "${CORVIX_OPENSSL_COMMAND}" pkey -in "${signing_key}" -pubout
                    RESULT_VARIABLE failed OUTPUT_VARIABLE public_key ERROR_VARIABLE why)
    if(NOT CORVIX_OPENSSL_COMMAND OR failed)
        message(FATAL_ERROR "corvix_encrypt_assets: no public key from ${signing_key} with the "
                            "openssl command (${CORVIX_OPENSSL_COMMAND}): ${why}")
    endif()
    # The public key is no secret: it is taken when the project is configured, and again when the
    # signing key changes.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${signing_key}")
    set(source "${CMAKE_CURRENT_BINARY_DIR}/corvix_key/${target}/CorvixManifestKey.cpp")
    file(CONFIGURE OUTPUT "${source}" @ONLY CONTENT [=[// Generated by corvix_encrypt_assets(... MANIFEST ... SIGNING_KEY ...).

#include <corvix/CorvixUtils.h>

namespace {

// Before main: the resource calls read only what the signed manifest lists.
[[maybe_unused]] const bool kManifestRequired = corvix::CorvixUtils::requireResourceManifest(
    "@name@", R"(@public_key@)");

} // namespace
]=])
    target_sources("${target}" PRIVATE "${source}")

    add_custom_command(OUTPUT "${destination}/${name}"
        COMMAND Corvix::cli manifest --quiet --output "${destination}/${name}"
                --sign-key "${signing_key}" ${outputs}
        DEPENDS ${outputs} "${signing_key}" Corvix::cli
        COMMENT "Listing the assets in ${name}, signed"
        VERBATIM
    )
endfunction()
