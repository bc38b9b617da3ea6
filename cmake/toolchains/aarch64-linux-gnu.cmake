# Cross build for 64-bit ARM (Debian arm64) with g++-12-aarch64-linux-gnu:
#   scripts/install-cross-deps arm64
#   cmake --preset arm64      (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake)
set(QELVO_TRIPLET aarch64-linux-gnu)
set(QELVO_PROCESSOR aarch64)
set(QELVO_DEBIAN_ARCH arm64)
set(QELVO_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
