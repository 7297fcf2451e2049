# Installs Corvix into a fresh prefix, builds a copy of the assets-consumer project against it
# (its build encrypts two assets with corvix_encrypt_assets) and runs it; then changes one asset
# and checks that the next build encrypts that one again, and only that one.
#   -D BUILD_DIR=  -D SOURCE_DIR=<assets-consumer>  -D WORK_DIR=  -D GENERATOR=  -D CXX=
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
file(COPY "${SOURCE_DIR}/" DESTINATION "${source}")
run(out "${CMAKE_COMMAND}" -S "${source}" -B "${build}" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${prefix}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=Release)

run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}" greeting.txt settings.json)
run(out "${build}/assets-consumer" "${source}/assets" greeting.txt settings.json)

run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}")

file(WRITE "${source}/assets/greeting.txt" "Changed after the first build.\n")
run(out "${CMAKE_COMMAND}" --build "${build}")
expect_encrypted("${out}" greeting.txt)
run(out "${build}/assets-consumer" "${source}/assets" greeting.txt settings.json)
