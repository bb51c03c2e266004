# The programs as they ship (make dist): optimised without sanitizers, hardened, stripped and
# reproducible, so that two builds of one commit in different folders are byte-identical.
# Included by the top CMakeLists.txt when VARNEX_RELEASE is on, before any target exists.

# -O2 rather than CMake's -O3: the level the fortified string functions are checked at.
foreach(language C CXX)
  set(CMAKE_${language}_FLAGS_RELEASE "-O2 -DNDEBUG")
endforeach()

# No folder of this machine in the binaries: the source and build folders are mapped to fixed
# names (the build folder lies inside the source folder, so it is named last and wins).
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

if(WIN32)
  # ASLR and DEP set in the header; no link time in it (the PE timestamp stays zero).
  # --high-entropy-va does not apply: it is a flag of 64-bit images, and these are 32-bit.
  add_link_options(-s LINKER:--dynamicbase LINKER:--nxcompat LINKER:--no-insert-timestamp)
  return()
endif()

# Linux: one binary for every distribution of the last years, needing only the C library.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported()
add_compile_definitions(_FORTIFY_SOURCE=2)
add_compile_options(-fstack-protector-strong)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  add_compile_options(-fstack-clash-protection -fcf-protection)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  # The arm64 build's clang has no stack clash protection for this target yet.
  add_compile_options(-mbranch-protection=standard)
endif()
add_link_options(-static-libstdc++ -static-libgcc -s LINKER:-z,relro LINKER:-z,now LINKER:--build-id=sha1)
