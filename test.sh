#!/usr/bin/env bash
# Builds everything and runs every test: default build, sanitizer build, thread sanitizer build
# of the threaded tests, the Debian package installed, upgraded and removed, Windows cross build
# with its tests and the Windows installer run under Wine, and a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
scripts/ensure_packages.sh "${MVX_BUILD_PACKAGES[@]}" "${MVX_TEST_PACKAGES[@]}"
scripts/ensure_odbc_driver.sh
jobs="$(nproc)"
fuzz_seconds="${MVX_FUZZ_SECONDS:-10}"

echo "== default build and tests"
cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Debian package: built, lintian, installed, upgraded, removed and purged on this machine"
tests/packaging/deb_package_test.sh build

echo "== sanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== thread sanitizer: the tests that run threads (service host, timer, stop, connection, link)"
# Only these targets are built: the rest of the tree runs on one thread and is covered above.
tsan_tests=(service_tests db_tests mvx_vendorlink_tests mvx_companion_tests maintenance_tests)
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j"$jobs" --target "${tsan_tests[@]}"
for test in "${tsan_tests[@]}"; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "build-tsan/bin/$test" --gtest_brief=1
done

echo "== windows cross build"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"

echo "== Windows installer (installed, upgraded and removed in the Wine stage)"
scripts/package.sh msi build-windows build-windows/packages

echo "== wine stage: the Windows executables under Wine"
if scripts/ensure_packages.sh "${MVX_WINE_PACKAGES[@]}"; then
  tests/wine/run_stage.sh build-windows build
else
  echo "== wine stage SKIPPED: Wine could not be installed on this machine" \
    "(apt-get install ${MVX_WINE_PACKAGES[*]} failed); the Windows executables were built but not run"
fi

echo "== fuzz targets (${fuzz_seconds}s each)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"
for target in build-fuzz/bin/*_fuzz; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  # The run grows its corpus in a scratch folder and leaves a crashing input beside it:
  # the seeds in the tree stay as they are.
  corpus="$(mktemp -d)"
  if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$corpus/"; fi
  dict=()
  if [ -f "fuzz/$name.dict" ]; then dict=(-dict="fuzz/$name.dict"); fi
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -artifact_prefix="$corpus." \
    "${dict[@]}" "$corpus" >"$corpus.log" 2>&1 || {
    tail -n 40 "$corpus.log"
    echo "fuzz target $target failed"
    exit 1
  }
  echo "$name: $(grep -o 'Done [0-9]* runs' "$corpus.log" | tail -n1)"
  rm -rf "$corpus" "$corpus.log"
done
echo "== all tests passed"
