# Debian packages the build needs (sourced by run.sh and test.sh).
MVX_BUILD_PACKAGES=(cmake make g++ googletest libgtest-dev libgmock-dev
  libbenchmark-dev unixodbc odbcinst unixodbc-dev tdsodbc)
MVX_TEST_PACKAGES=(g++-mingw-w64-x86-64-posix clang libclang-rt-14-dev)
# The Wine stage: Wine itself and the Korean locale sources for localedef.
MVX_WINE_PACKAGES=(wine wine64 locales)
