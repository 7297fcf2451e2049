# Installs Corvix into a fresh prefix, then configures, builds and runs the consumer project
# against that prefix alone.
#   -D BUILD_DIR=  -D SOURCE_DIR=<consumer project>  -D WORK_DIR=  -D GENERATOR=  -D CXX=
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")

include("${CMAKE_CURRENT_LIST_DIR}/../support/RunCommand.cmake")

run(out "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
    --component Corvix_Development)
foreach(header Crypto/AESUtils.h Crypto/FileCipher.h Key/Bytes.h Key/CorvixKey.h Key/CorvixUtils.h)
    if(NOT EXISTS "${prefix}/include/corvix/${header}")
        message(FATAL_ERROR "include/corvix/${header} was not installed")
    endif()
endforeach()

run(out "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${prefix}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=Release)
run(out "${CMAKE_COMMAND}" --build "${WORK_DIR}/build")
run(out "${WORK_DIR}/build/corvix-consumer")
