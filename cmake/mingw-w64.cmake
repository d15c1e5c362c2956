# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads
# flavour, for std::thread and thread_local). Used by `make windows`:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: no libstdc++, libgcc or winpthread DLLs to find.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The header-only libraries come from the host's -dev packages, through
# package files of our own that expose only their headers (the host's own
# would put /usr/include, glibc's headers, on the compiler's path).
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross CACHE PATH "" FORCE)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/cross CACHE PATH "" FORCE)
# GoogleTest is built from Debian's source package with this toolchain.
set(ZARNIK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build with the tests")
