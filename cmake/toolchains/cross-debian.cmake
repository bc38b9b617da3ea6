# What the Debian cross toolchain files share: the build machine's Debian 12 with the
# cross compiler for QELVO_TRIPLET and the development packages of that architecture
# installed beside its own (multiarch; scripts/install-cross-deps installs them).
# Headers are found in /usr/include and /usr/include/<triplet>, libraries in
# /usr/lib/<triplet> by the cross compiler itself, so there is no separate sysroot.
# Programs built here run under qemu's user-mode emulator: CTest runs the tests that
# way, and the tests run the built tools the same way. The emulator finds the program
# interpreter and the libraries where multiarch put them (libc6:<arch> installs
# /lib/ld-linux-*.so), not under the cross toolchain's /usr/<triplet>: with that as its
# prefix (-L), a program that starts a thread spins forever under Debian 12's qemu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${QELVO_PROCESSOR})
set(CMAKE_CXX_COMPILER ${QELVO_TRIPLET}-g++-12)
set(CMAKE_C_COMPILER ${QELVO_TRIPLET}-gcc-12)
set(CMAKE_LIBRARY_ARCHITECTURE ${QELVO_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR ${QELVO_QEMU} CACHE STRING
    "Runs the programs built for ${QELVO_TRIPLET} on this machine")

# The build machine's tools (pkg-config, cpack's dpkg-shlibdeps) are its own; the
# libraries and headers are the target's, and only those.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QELVO_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The architecture of the Debian packages that cpack makes.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QELVO_DEBIAN_ARCH})
