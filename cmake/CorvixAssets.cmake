# corvix_encrypt_assets(TARGET <target> SOURCES <file>... DESTINATION <dir>)
#
# Encrypts each source into <dir>/<file name>.enc while <target> builds, with the installed
# corvix-cli. Every output depends on its own source (and on the tool), so a build encrypts
# again only the assets that changed, replacing the outputs of the earlier build. A relative
# source is taken from the current source folder, a relative <dir> from the current build folder.
#
#   corvix_encrypt_assets(TARGET app SOURCES assets/logo.png assets/config.json
#                         DESTINATION resources)
#
# A `resources` folder beside the program is where CorvixUtils::decryptResource* looks.
function(corvix_encrypt_assets)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;DESTINATION" "SOURCES")
    if(arg_UNPARSED_ARGUMENTS OR NOT arg_TARGET OR NOT arg_SOURCES OR NOT arg_DESTINATION)
        message(FATAL_ERROR "usage: corvix_encrypt_assets(TARGET <target> SOURCES <file>... "
                            "DESTINATION <dir>)")
    endif()
    if(NOT TARGET "${arg_TARGET}")
        message(FATAL_ERROR "corvix_encrypt_assets: there is no target ${arg_TARGET}")
    endif()
    if(NOT TARGET Corvix::cli)
        message(FATAL_ERROR "corvix_encrypt_assets: Corvix::cli (corvix-cli) is not installed")
    endif()

    cmake_path(ABSOLUTE_PATH arg_DESTINATION BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
               NORMALIZE OUTPUT_VARIABLE destination)
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
            COMMAND Corvix::cli encrypt --quiet --force --output "${destination}" "${input}"
            DEPENDS "${input}" Corvix::cli
            COMMENT "Encrypting ${name}"
            VERBATIM
        )
    endforeach()

    set(assets_target "${arg_TARGET}_corvix_assets")
    set(count 1)
    while(TARGET "${assets_target}")
        math(EXPR count "${count} + 1")
        set(assets_target "${arg_TARGET}_corvix_assets_${count}")
    endwhile()
    add_custom_target("${assets_target}" DEPENDS ${outputs})
    add_dependencies("${arg_TARGET}" "${assets_target}")
endfunction()
