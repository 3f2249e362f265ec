# The Debian packages the build needs, and those the tests need besides.
build_packages=(cmake ninja-build g++ qt6-base-dev libicu-dev)
test_packages=()
