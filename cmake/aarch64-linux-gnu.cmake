# Cross-compiles the Linux programs for 64-bit ARM (a Raspberry Pi beside a production line);
# qemu-user runs the result on this machine. The compiler is clang with Debian's arm64 C and
# C++ libraries and binutils: Debian's g++-aarch64-linux-gnu cannot be installed beside
# gcc-multilib, which the 32-bit modem-line library for Wine needs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VARNEX_CROSS_TRIPLE aarch64-linux-gnu)
foreach(language C CXX ASM)
  set(CMAKE_${language}_COMPILER_TARGET ${VARNEX_CROSS_TRIPLE})
endforeach()
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_ASM_COMPILER clang)
set(CMAKE_AR /usr/bin/${VARNEX_CROSS_TRIPLE}-ar)
set(CMAKE_RANLIB /usr/bin/${VARNEX_CROSS_TRIPLE}-ranlib)
set(CMAKE_STRIP /usr/bin/${VARNEX_CROSS_TRIPLE}-strip)
set(CMAKE_FIND_ROOT_PATH /usr/${VARNEX_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/${VARNEX_CROSS_TRIPLE})
