#!/usr/bin/env bash
# Makes a fresh 32-bit Wine prefix for the Windows program's tests, and
# installs Wine 8 from Debian first when it is missing (as root).
#   wine-prefix.sh [PREFIX]        default: build-win32/wineprefix
# Exit status 0 ready, 3 Wine is missing and cannot be installed, else 1.
# The prefix runs Wine in a virtual desktop (without a window manager, Xvfb
# otherwise stalls on every hidden window), has Wine's own fonts, and has no
# .NET, no HTML engine and no menu builder.
set -euo pipefail
cd "$(dirname "$0")/.."
PREFIX=$(realpath -m "${1:-build-win32/wineprefix}")

# What the Wine tests need beyond scripts/setup.sh: Wine for i386 with its
# fonts and X rendering, and ImageMagick's import for screenshots.
PACKAGES=(wine wine32:i386 fonts-wine libxrender1:i386 libxext6:i386 imagemagick)

# shellcheck source=scripts/packages.sh
source scripts/packages.sh
install_packages wine-prefix "${PACKAGES[@]}" || { echo "wine-prefix: Wine could not be installed" >&2; exit 3; }

export WINEPREFIX="$PREFIX" WINEARCH=win32 WINEDEBUG=-all
# Set before the first wineboot: no Mono or Gecko installer prompts, no
# desktop menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineserver -k 2>/dev/null || true
rm -rf "$PREFIX"
mkdir -p "$(dirname "$PREFIX")"
# wineboot needs no display.
echo "wine-prefix: wineboot in $PREFIX"
DISPLAY= wine wineboot --init >/dev/null 2>&1
wineserver -w

# A virtual desktop: every window lives inside one X window of Wine's own.
cat >"$PREFIX/drive_c/desktop.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"
REG
DISPLAY= wine regedit /S 'C:\desktop.reg' >/dev/null 2>&1
rm -f "$PREFIX/drive_c/desktop.reg"

fonts="$PREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
cp /usr/share/wine/fonts/* "$fonts/"
wineserver -w
echo "wine-prefix: ready ($(du -sh "$PREFIX" | cut -f1))"
