# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (the -posix variants, whose libstdc++
# has std::thread and std::mutex, which Qt needs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSALINE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSALINE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSALINE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSALINE_MINGW_TRIPLET}-windres)

# Libraries and headers come only from the mingw sysroot and the prefixes given in
# CMAKE_PREFIX_PATH (the cross-built Qt); programs (moc, rcc, uic) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TESSALINE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The prefixes given (the cross-built Qt and the format modules' libraries in the cache) are
# roots too, or the ONLY modes above would look for them inside the mingw sysroot.
set(pkgconfig_dirs "/usr/${TESSALINE_MINGW_TRIPLET}/lib/pkgconfig")
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
    list(APPEND CMAKE_FIND_ROOT_PATH "${prefix}")
    list(APPEND pkgconfig_dirs "${prefix}/lib/pkgconfig")
endforeach()

# pkg-config sees only the .pc files of the sysroot and of those prefixes, never the host's
# (fontconfig, and the host's own libavformat and the like).
list(JOIN pkgconfig_dirs ":" pkgconfig_dirs)
set(ENV{PKG_CONFIG_LIBDIR} "${pkgconfig_dirs}")
set(ENV{PKG_CONFIG_PATH} "")

# GCC 12's optimizer warns, at -O2 and above, of what inlining only seems to show: members of a
# std::variant that "may be used uninitialized" (Expected<T> in convert/failure.h) and a store
# into "a region of size 0" (a std::shared_ptr's count, window/previewpane.cpp). The build treats
# warnings as errors and would fail on nothing.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-maybe-uninitialized -Wno-stringop-overflow")
