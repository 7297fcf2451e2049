# Installs Corvix into a fresh prefix, builds a copy of the assets-consumer project against it
# (its build encrypts two assets with corvix_encrypt_assets, once with the built-in key and once
# with a key file made by keygen) and runs both programs; checks that neither the keyed program
# nor any file of the build holds the key as it stands in the key file, nor the program as two
# runs whose XOR it is, and that it reads only what its signed manifest lists; then changes one
# asset and checks that the next build encrypts that one again, and only that one; then a new key
# file and checks that the keyed assets follow it; and that two sources of one name are refused.
#   -D BUILD_DIR=  -D SOURCE_DIR=<assets-consumer>  -D WORK_DIR=  -D GENERATOR=  -D CXX=  -D KEY_SCAN=
cmake_minimum_required(VERSION 3.24)
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
set(source "${WORK_DIR}/source")
set(build "${WORK_DIR}/build")

include("${CMAKE_CURRENT_LIST_DIR}/../support/RunCommand.cmake")

# Which assets a build encrypted, from the build tool's output.
function(expect_encrypted build_output)
    foreach(name greeting.txt settings.json)
        string(FIND "${build_output}" "Encrypting ${name}" at)
        if(name IN_LIST ARGN AND at EQUAL -1)
            message(FATAL_ERROR "the build did not encrypt ${name}")
        elseif(NOT name IN_LIST ARGN AND NOT at EQUAL -1)
            message(FATAL_ERROR "the build encrypted ${name}, which had not changed")
        endif()
    endforeach()
endfunction()

run(out "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
    --component Corvix_Development)
# Only the public API is installed, flat; the consumer includes each of these headers.
file(GLOB_RECURSE installed RELATIVE "${prefix}/include" "${prefix}/include/*")
set(public AESUtils Bytes CorvixKey CorvixUtils DecryptingStreamBuf EncryptedFileDevice
    EncryptedFileReader KeyMaterial Manifest Outcome Version)
list(TRANSFORM public REPLACE "(.+)" "corvix/\\1.h")
if(NOT installed STREQUAL public)
    message(FATAL_ERROR "installed headers: ${installed}; the public API: ${public}")
endif()
file(COPY "${SOURCE_DIR}/" DESTINATION "${source}")
run(out "${prefix}/bin/corvix-cli" keygen -o "${source}/app.key")
find_program(openssl openssl REQUIRED)
run(out "${openssl}" genpkey -algorithm ed25519 -out "${source}/sign.pem")
run(out "${CMAKE_COMMAND}" -S "${source}" -B "${build}" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${prefix}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=Release)

run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}" greeting.txt settings.json)
run(out "${build}/assets-consumer" "${source}/assets" greeting.txt settings.json)
run(out "${build}/keyed/assets-consumer-keyed" "${source}/assets" greeting.txt settings.json)

# Neither the program nor any other file of the build holds the key's or the IV's bytes or hex
# text as one run (no copy of the key file either), and the generated source that holds the
# masked material is private.
set(program "${build}/keyed/assets-consumer-keyed")
file(READ "${program}" program_bytes HEX)
file(STRINGS "${source}/app.key" material)
file(GLOB_RECURSE built "${build}/*")
foreach(line IN LISTS material)
    string(REGEX REPLACE "^[a-z]+:" "" hex "${line}")
    string(FIND "${program_bytes}" "${hex}" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "the program holds the key material's bytes")
    endif()
    foreach(file IN LISTS built)
        file(STRINGS "${file}" as_text REGEX "${hex}")
        if(as_text)
            message(FATAL_ERROR "${file} holds the key material's text")
        endif()
    endforeach()
endforeach()
# Nor as the XOR of two runs of 48 bytes anywhere in it; and the generated source and its object
# file are made with mode 0600.
run(out "${KEY_SCAN}" "${program}" "${source}/app.key")
file(GLOB_RECURSE generated "${build}/*CorvixAppKey.cpp" "${build}/*CorvixAppKey.cpp.o")
list(LENGTH generated count)
run(modes stat -c %a ${generated})
if(NOT count EQUAL 2 OR NOT modes STREQUAL "600\n600\n")
    message(FATAL_ERROR "the key source and object are not both mode 0600: ${generated}: ${modes}")
endif()

run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}")

# The keyed program reads only what its signed manifest lists: a valid file beside the others is
# refused.
file(COPY_FILE "${source}/assets/greeting.txt" "${source}/assets/extra.txt")
file(COPY_FILE "${build}/keyed/resources/greeting.txt.enc" "${build}/keyed/resources/extra.txt.enc")
execute_process(COMMAND "${program}" "${source}/assets" extra.txt RESULT_VARIABLE result
                OUTPUT_VARIABLE out)
if(NOT result EQUAL 1 OR NOT out STREQUAL "FAILED extra.txt\n" OR
   NOT EXISTS "${build}/keyed/resources/assets.manifest")
    message(FATAL_ERROR "an unlisted resource was read (${result}): ${out}")
endif()

file(WRITE "${source}/assets/greeting.txt" "Changed after the first build.\n")
run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}" greeting.txt)
run(out "${build}/assets-consumer" "${source}/assets" greeting.txt settings.json)
run(out "${program}" "${source}/assets" greeting.txt settings.json)

# A new key file: the next build encrypts the keyed assets with it, and the keyed program reads
# them with it.
file(REMOVE "${source}/app.key")
run(out "${prefix}/bin/corvix-cli" keygen -o "${source}/app.key")
run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}" greeting.txt settings.json)
run(out "${build}/keyed/assets-consumer-keyed" "${source}/assets" greeting.txt settings.json)

# Two sources of one name would write one output: the configuration refuses them.
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${source}" -B "${build}" -DCONSUMER_SAME_NAME_TWICE=ON
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(result EQUAL 0 OR NOT out MATCHES "more than one source would write")
    message(FATAL_ERROR "two sources of one name were taken (${result}):\n${out}")
endif()
