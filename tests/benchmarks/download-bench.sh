# Sourced by the download benchmarks: where the build of the test preset is, the port they
# serve on (QV_BENCH_PORT), and bench_download ARGS, which runs bench-download.exe under Wine.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
preset=$("$root/scripts/test-preset.sh")
build=$root/build/$preset
port=${QV_BENCH_PORT:-18490}
bench_download() {
  local arch=win32
  [ "$preset" = mingw-x86 ] || arch=win64
  QV_WINE_ARCH=$arch "$root/scripts/wine-run.sh" "$build/wineprefix" \
    "$build/tests/bin/bench-download.exe" "$@"
}
