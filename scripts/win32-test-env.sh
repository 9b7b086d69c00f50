# Sourced by the Wine suites: where things are, Wine's settings, and the
# step before a suite goes into its namespace.
#   source scripts/win32-test-env.sh NAME [BUILD_DIR]
# Sets ROOT, BUILD (the Linux build folder), WIN32_BUILD, PREFIX, DEMO and
# say(), which starts each line with NAME.
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$(pwd)
WIN32_SUITE=$1
BUILD=$(realpath -m "${2:-build}")
WIN32_BUILD="$ROOT/${BUILD_WIN32_DIR:-build-win32}"
PREFIX="$WIN32_BUILD/wineprefix"
DEMO="$ROOT/examples/demo_APP.s19"
export WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
say() { echo "$WIN32_SUITE: $*"; }

# win32_prepare NEW_PREFIX LINUX_PROGRAMS...: checks that the Linux build
# has the programs, builds the Windows ones and makes the prefix (a fresh one
# when NEW_PREFIX is "new", else only when there is none). Exits the suite
# when it fails, or when Wine cannot be had (skipped).
win32_prepare() {
  local fresh=$1 program
  shift
  for program in "$@"; do
    if [ ! -x "$BUILD/$program" ]; then
      say "FAILED: $BUILD/$program is not built (run scripts/setup.sh)"
      exit 1
    fi
  done
  scripts/build-win32.sh >/dev/null || { say "FAILED: the Windows build"; exit 1; }
  [ "$fresh" != new ] && [ -e "$PREFIX/system.reg" ] && return 0
  scripts/wine-prefix.sh "$PREFIX"
  case $? in
    0) ;;
    3) say "SKIPPED: Wine cannot be installed on this machine"; exit 0 ;;
    *) say "FAILED: the Wine prefix"; exit 1 ;;
  esac
}
