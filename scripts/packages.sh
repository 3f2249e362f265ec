# The Debian packages the build needs, those the tests need besides, and those the program needs
# to run on a desktop (the X11/Wayland platform plugins, and a Song-style face for Chinese text).
build_packages=(cmake ninja-build g++ qt6-base-dev libicu-dev)
test_packages=(libbenchmark-dev)
run_packages=(qt6-qpa-plugins fonts-arphic-uming)
