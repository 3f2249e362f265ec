# The Debian packages the build needs, and those the tests need besides.
build_packages=(cmake ninja-build g++ qt6-base-dev libicu-dev)
test_packages=()
# ---- Fuzzing (clang with libFuzzer) and the interop tests with mkvmerge (perf branch) ----
test_packages+=(clang libclang-rt-dev mkvtoolnix)
# Google Benchmark, for scripts/bench only.
bench_packages=(libbenchmark-dev)
# ---- end of perf branch packages ----
