# One Debian package of everything installed: library, header, CMake package, pkg-config file,
# the command with its man page and bash completion. From a build directory: cpack -G DEB.
# Configure with -DCMAKE_INSTALL_PREFIX=/usr so that the library lands in Debian's multiarch
# folder, where the command finds it without a run path.
set(CPACK_PACKAGE_NAME kalo)
set(CPACK_PACKAGE_VENDOR "kalo developers")
set(CPACK_PACKAGE_CONTACT "kalo developers <kalo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "embeddable equation compiler and evaluator with a C interface")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "kalo compiles one-line assignments such as Z = 2*sin(X) + Y/3 into compact code and\n"
  "evaluates them with doubles, reporting bad equations and floating-point faults in words.\n"
  "The package holds the shared library, its C header, CMake and pkg-config files, and the\n"
  "kalo command, which evaluates equations over tables, sweeps and in a calculator.")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) works out the C, C++ and line-editor run-time packages needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
