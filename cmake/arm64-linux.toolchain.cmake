# The host build for aarch64 Linux (make test-arm64): Debian's cross compiler with its own C and
# C++ libraries; FFmpeg, GoogleTest and Node.js from Debian's arm64 packages unpacked into
# ARM64_SYSROOT (scripts/arm64-sysroot.sh), which qemu-aarch64-static then runs the results in.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

if(NOT DEFINED ARM64_SYSROOT)
    get_filename_component(ARM64_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-arm64/sysroot ABSOLUTE)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ARM64_SYSROOT)
if(NOT EXISTS ${ARM64_SYSROOT}/usr/include/aarch64-linux-gnu/libavutil/avutil.h)
    message(FATAL_ERROR "No arm64 sysroot in ${ARM64_SYSROOT}: run scripts/arm64-sysroot.sh")
endif()
# Not CMAKE_SYSROOT: the compiler keeps its own C library; the sysroot adds the packages' headers
# and libraries. Their libraries' own dependencies are found at link time through rpath-link.
set(CMAKE_FIND_ROOT_PATH ${ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(libdir ${ARM64_SYSROOT}/usr/lib/aarch64-linux-gnu)
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${libdir}:${ARM64_SYSROOT}/lib/aarch64-linux-gnu")
endforeach()

set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ARM64_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR} ${libdir}/pkgconfig:${ARM64_SYSROOT}/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# ctest runs the test binaries through qemu with the sysroot as their root for library lookups.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L ${ARM64_SYSROOT})
