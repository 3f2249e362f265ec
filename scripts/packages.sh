# The Debian packages the build needs; those the tests need besides (clang with libFuzzer for the
# fuzz targets, mkvtoolnix for the interop tests); those the program needs to run on a desktop
# (the X11/Wayland platform plugins, and a Song-style face for Chinese text); and for the benchmarks
# Google Benchmark, and Xvfb with the XCB headers for the start-up time. fontconfig's headers let
# the window program read the font configuration while Qt connects to the display.
build_packages=(cmake ninja-build g++ qt6-base-dev libicu-dev pkg-config libfontconfig-dev)
test_packages=(clang libclang-rt-dev mkvtoolnix)
run_packages=(qt6-qpa-plugins fonts-arphic-uming)
bench_packages=(libbenchmark-dev xvfb xauth libxcb1-dev qt6-qpa-plugins)
