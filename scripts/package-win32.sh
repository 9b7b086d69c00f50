#!/usr/bin/env bash
# Makes the Windows installer and the portable zip from a Windows build:
#   package-win32.sh [BUILD_DIR]       default: build-win32
# BUILD_DIR/tideload-VERSION-setup.exe  (NSIS; packaging/windows/installer.nsi)
# BUILD_DIR/tideload-VERSION-win32.zip  (the programs and README.txt)
# The version and the publisher are those CMake wrote into BUILD_DIR/product.env
# (the project's VERSION). tideload-cli.exe goes into both when it is built.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build-win32}")

value() { sed -n "s/^$1=//p" "$BUILD/product.env"; }
VERSION=$(value VERSION)
PUBLISHER=$(value PUBLISHER)
[ -n "$VERSION" ] && [ -n "$PUBLISHER" ] || { echo "package-win32: no version in $BUILD/product.env" >&2; exit 1; }
# Four numbers for the installer's version resource.
VERSION4=$VERSION
while [ "$(tr -cd . <<<"$VERSION4" | wc -c)" -lt 3 ]; do VERSION4+=.0; done

PROGRAMS=(tideload.exe)
CLI=()
if [ -e "$BUILD/tideload-cli.exe" ]; then
  PROGRAMS+=(tideload-cli.exe)
  CLI=(-DCLI)
fi

SETUP="$BUILD/tideload-$VERSION-setup.exe"
makensis -V2 "-DVERSION=$VERSION" "-DVERSION4=$VERSION4" "-DPUBLISHER=$PUBLISHER" "-DBUILD=$BUILD" \
  "-DOUTFILE=$SETUP" "${CLI[@]}" packaging/windows/installer.nsi

# The zip: one folder with the programs and the README, with Windows line ends.
ZIP="$BUILD/tideload-$VERSION-win32.zip"
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
folder="$STAGE/tideload-$VERSION"
mkdir "$folder"
list=
for program in "${PROGRAMS[@]}"; do
  cp "$BUILD/$program" "$folder/"
  case $program in
    tideload.exe) list+="  tideload.exe      the desktop program\n" ;;
    tideload-cli.exe) list+="  tideload-cli.exe  the console program: inspect, update, find (--help)\n" ;;
  esac
done
sed -e "s/@VERSION@/$VERSION/g" -e "s/@PROGRAMS@/$list/" packaging/windows/README.txt | sed 's/$/\r/' >"$folder/README.txt"
rm -f "$ZIP"
(cd "$STAGE" && zip -q -r -X "$ZIP" "tideload-$VERSION")
echo "package-win32: $(basename "$SETUP") and $(basename "$ZIP") with ${PROGRAMS[*]}"
