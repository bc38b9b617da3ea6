# Cross build for 32-bit ARM with hardware floating point (Debian armhf) with
# g++-12-arm-linux-gnueabihf:
#   scripts/install-cross-deps armhf
#   cmake --preset armhf      (or -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake)
set(QELVO_TRIPLET arm-linux-gnueabihf)
set(QELVO_PROCESSOR armv7l)
set(QELVO_DEBIAN_ARCH armhf)
set(QELVO_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
