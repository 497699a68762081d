# Toolchain file of the device build check, used as the SDK's native/build/cmake/ohos.toolchain.cmake
# is: cmake -DCMAKE_TOOLCHAIN_FILE=<this> -DOHOS_ARCH=arm64-v8a [-DOHOS_STL=c++_shared] ...
# Compiler: Debian's clang-19 for the OpenHarmony triple, with Debian's libc++ 19 headers set up
# for musl, the device's C library. SDK: the stand-in that scripts/ohos-check-sdk.sh lays out
# (OHOS_CHECK_SDK, default build-device/sdk).
set(OHOS TRUE)
set(OHOS_PLATFORM OHOS)
set(CMAKE_SYSTEM_NAME Linux)  # CMake knows no OHOS platform without the SDK's own CMake
set(CMAKE_SYSTEM_PROCESSOR aarch64)

if(NOT DEFINED OHOS_ARCH)
    set(OHOS_ARCH arm64-v8a)
endif()
if(NOT OHOS_ARCH STREQUAL "arm64-v8a")
    message(FATAL_ERROR "OHOS_ARCH ${OHOS_ARCH}: the check covers arm64-v8a only")
endif()
if(DEFINED OHOS_STL AND NOT OHOS_STL STREQUAL "c++_shared")
    message(FATAL_ERROR "OHOS_STL ${OHOS_STL}: the check covers c++_shared only")
endif()

if(NOT DEFINED OHOS_CHECK_SDK)
    if(DEFINED ENV{OHOS_CHECK_SDK})
        set(OHOS_CHECK_SDK $ENV{OHOS_CHECK_SDK})
    else()
        get_filename_component(OHOS_CHECK_SDK ${CMAKE_CURRENT_LIST_DIR}/../build-device/sdk ABSOLUTE)
    endif()
endif()
set(OHOS_SDK_NATIVE ${OHOS_CHECK_SDK}/native)
if(NOT EXISTS ${OHOS_SDK_NATIVE}/sysroot/usr/include/napi/native_api.h)
    message(FATAL_ERROR "No stand-in SDK in ${OHOS_CHECK_SDK}: run scripts/ohos-check-sdk.sh")
endif()
set(OHOS_LLVM_LIB ${OHOS_SDK_NATIVE}/llvm/lib/aarch64-linux-ohos)

set(CMAKE_SYSROOT ${OHOS_SDK_NATIVE}/sysroot)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET aarch64-linux-ohos)
set(CMAKE_CXX_COMPILER_TARGET aarch64-linux-ohos)
# Debian's libc++ is configured for glibc; the SDK's is built for musl.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem /usr/lib/llvm-19/include/c++/v1 -D_LIBCPP_HAS_MUSL_LIBC")
# No start files: the stand-in SDK has none. Every name must resolve against its libraries.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib -Wl,-z,defs -L${OHOS_LLVM_LIB}")
set(CMAKE_C_STANDARD_LIBRARIES "${OHOS_LLVM_LIB}/libclang_rt.builtins.a -lc")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lc++_shared ${OHOS_LLVM_LIB}/libclang_rt.builtins.a -lc")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
