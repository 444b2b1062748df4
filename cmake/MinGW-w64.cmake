# Cross-building the 64-bit Windows executable with Debian's MinGW-w64 (posix
# threads). OH_WINDOWS_DEPS_PREFIX is where scripts/build-windows installs the
# libraries built for Windows (libjpeg-turbo, libpng).
set (CMAKE_SYSTEM_NAME Windows)
set (CMAKE_SYSTEM_PROCESSOR x86_64)

set (mingw_triplet x86_64-w64-mingw32)
set (CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set (CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set (CMAKE_RC_COMPILER ${mingw_triplet}-windres)
set (CMAKE_ASM_COMPILER ${mingw_triplet}-gcc-posix)

# Passed on to try_compile projects too.
list (APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OH_WINDOWS_DEPS_PREFIX)

set (CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
if (OH_WINDOWS_DEPS_PREFIX)
    list (PREPEND CMAKE_FIND_ROOT_PATH "${OH_WINDOWS_DEPS_PREFIX}")
endif()

set (CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set (CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# JUCE's CMake package (and its host tool juceaide) comes from the build machine.
set (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The runtime goes into the executable: nothing needs a DLL beside it.
set (CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set (ZLIB_USE_STATIC_LIBS ON)   # libz.a, not the import library of zlib1.dll
