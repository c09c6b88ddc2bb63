# Debian packages the build needs (sourced by run.sh and test.sh); the test list also holds what
# scripts/package.sh uses to make the .deb (dpkg-shlibdeps, lintian) and the .msi (wixl).
MVX_BUILD_PACKAGES=(cmake make g++ googletest libgtest-dev libgmock-dev
  libbenchmark-dev unixodbc odbcinst unixodbc-dev tdsodbc)
MVX_TEST_PACKAGES=(g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev
  dpkg-dev lintian msitools wixl)
# The Wine stage: Wine itself and the Korean locale sources for localedef.
MVX_WINE_PACKAGES=(wine wine64 locales)
