# Cross build for arm64 with Debian's cross toolchain (crossbuild-essential-arm64) against the
# arm64 libraries installed beside the native ones through multiarch. Programs the build makes,
# the tests included, run through qemu-user's qemu-aarch64, called directly: nothing is
# registered with the kernel.
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# A program path alone (no arguments): the CLI tests start the tool through it too.
find_program(QX_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QX_QEMU_AARCH64})

# Host programs (xmllint, pkg-config) come from the build machine; pkg-config reads the arm64
# .pc files only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
