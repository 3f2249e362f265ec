# The Debian packages the build needs (the container, disc and playlist libraries the readers use;
# help2man writes the manual pages; lupdate and lrelease, qt6-l10n-tools, with their CMake package
# in qt6-tools-dev, build the window's Chinese; fontconfig's headers let the window program read
# the font configuration while Qt connects to the display); those the tests need besides (clang with
# libFuzzer for the fuzz targets, mkvtoolnix, ffmpeg, x264, dvdauthor and lsdvd for the interop tests,
# and for the package test cpack's helpers dpkg-shlibdeps and file, then lintian,
# desktop-file-validate, appstreamcli, man and bash-completion); those the program needs to run on
# a desktop (the X11/Wayland platform plugins, a Song-style face for Chinese text, and a face with
# the Japanese forms of kanji besides kana for Japanese titles, which the Song face lacks); and for the
# benchmarks Google Benchmark, Xvfb with the XCB headers for the start-up time, and for the input
# formats' benchmark (MEDIA=1) ffmpeg and mkvtoolnix, which build its files and are measured
# against, and GNU time for the peak memory.
build_packages=(cmake ninja-build g++ qt6-base-dev qt6-tools-dev qt6-l10n-tools libicu-dev help2man pkg-config libfontconfig-dev
    libavformat-dev libavutil-dev libdvdread-dev libebml-dev libmatroska-dev)
test_packages=(clang clang-format libclang-rt-dev mkvtoolnix ffmpeg x264 dvdauthor lsdvd dpkg-dev file lintian
    desktop-file-utils appstream man-db bash-completion)
run_packages=(qt6-qpa-plugins fonts-arphic-uming fonts-droid-fallback)
bench_packages=(libbenchmark-dev xvfb xauth libxcb1-dev qt6-qpa-plugins ffmpeg mkvtoolnix time)
# For scripts/windows: the mingw-w64 cross compilers (the -posix threading variants) and binutils,
# Wine to run the tests, NSIS for the installer, Xvfb, openbox and xdotool to show the window,
# press "Save" and close it (imagemagick takes its screenshots), a Song face for Chinese text under Wine, the faces the
# widget tests measure with under Qt's offscreen platform (DejaVu Sans, Droid Sans Fallback), the locales
# Wine takes its ANSI code page from, dpkg-dev for Debian's source packages (and patch, which it
# depends on, for libdvdread's), make for the libraries' own builds, python3 to recode the Linux
# build's output into code page 936 for comparison, and zip.
windows_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis xvfb xauth
    openbox xdotool imagemagick fonts-arphic-uming fonts-dejavu-core fonts-droid-fallback locales dpkg-dev make python3 zip)
