#!/usr/bin/env bash
# The Windows program end to end under Wine. Builds tideload.exe, its driver
# and a fresh 32-bit prefix, then runs everything (Xvfb, Wine and its
# wineserver, the simulated modules) inside a network namespace of its own,
# where broadcasts reach no one but the test's modules. The driver
# (tests/win32/driver.cpp) is the user: it reads and works the windows.
#   - the resources in tideload.exe (icon, version, manifest); the zip; the
#     installer run silently in a fresh prefix of its own: the programs in
#     Program Files, the installed one running, the Start-menu entry, the
#     uninstall key, the PATH only with /PATH; the silent uninstaller
#     removing all of it and leaving the settings;
#   - the main window, About, Find, Program Ombrelin and Password needed:
#     every control where the layout table puts it (read back in dialog
#     units), nothing clipped, captions, texts, styles, tab order, default
#     button, focus, a disabled owner (build/win32_layout_table prints the
#     table in the driver's form); the controls of version 6 (the manifest);
#     the same layouts again at 144 DPI, pictured;
#   - the main window's validation, Enter, its icon; About through the
#     system menu's last item and through system command 16 with low bits
#     set; its OK closes it;
#   - -I -F -R -A against tideload-sim: the image arrives byte-exact (a 4 MiB
#     one too), reboot R with -R and D without, exit status 0; "Update"
#     pressed says it is done; the credentials dialog answered; failures
#     (an error right after the module's end among them) give their message
#     boxes in order and leave the main window open,
#     where Dismiss, Escape and the close box give -1 (255); the idle
#     time-out after 30 s, run beside the others;
#   - Find: the tree filled by tideload-sim discover modules, labels and
#     state images as tideload-cli find prints them for the same modules;
#     OK fills the boxes and stores the address; OK on an empty tree and
#     Cancel say so;
#   - "IPAddr" and "FileDir" (Browse... through the file-open dialog) in the
#     prefix's registry, read again at the next start;
#   - SHA-256 from CryptoAPI against known answers (sha256_check.exe);
#   - pictures of every window in build-win32/screenshots/.
# Needs the Linux build (scripts/setup.sh) for tideload-sim, tideload-cli and
# win32_layout_table. Skipped, with a message, only when Wine cannot be
# installed or no network namespace can be made here.
#   test-win32.sh [BUILD_DIR]      the Linux build folder (build)
set -uo pipefail
# shellcheck source=scripts/win32-test-env.sh
source "$(dirname "$0")/win32-test-env.sh" test-win32 "${1:-}"
INSTALL_PREFIX="$WIN32_BUILD/wineprefix-install"
SHOTS="$WIN32_BUILD/screenshots"
EXE="$WIN32_BUILD/tideload.exe"
DRIVER="$WIN32_BUILD/driver.exe"
LAYOUTS="$BUILD/win32_layout_table"

if [ -z "${TEST_WIN32_NETNS:-}" ]; then
  started=$SECONDS
  win32_prepare new tideload-sim tideload-cli win32_layout_table
  # The installer's prefix: as fresh as the other.
  rm -rf "$INSTALL_PREFIX"
  cp -a "$PREFIX" "$INSTALL_PREFIX"
  say "build and prefix in $((SECONDS - started)) s"
  unshare -n true 2>/dev/null || { say "SKIPPED: no network namespace can be made here (needs root)"; exit 0; }
  # Five minutes at most, whatever hangs.
  TEST_WIN32_NETNS=1 exec timeout -k 30 300 unshare -n bash "$0" "$@"
fi

# ---------------------------------------------------------------- inside the namespace
started=$SECONDS
# Only loopback, with a default route over it: the program's broadcast to
# 255.255.255.255 loops back to the modules here, and nowhere else.
if ! { ip link set lo up && ip route add default dev lo; }; then
  say "FAILED: no loopback in the namespace"
  exit 1
fi
# No name server is reachable here: say so at once instead of after the
# resolver's time-outs (Wine looks up the machine's name as a prefix starts).
for server in $(awk '$1 == "nameserver" && $2 ~ /^[0-9.]+$/ { print $2 }' /etc/resolv.conf 2>/dev/null); do
  ip route add unreachable "$server/32" 2>/dev/null
done

WORK=$(mktemp -d)
XVFB_PID=
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
  WINEPREFIX="$INSTALL_PREFIX" wineserver -k 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'say "FAILED: out of time"; exit 1' TERM
failed=0
fail() { say "FAILED: $*"; failed=1; }

# A display of its own: Xvfb picks a free number and writes it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.err" &
XVFB_PID=$!
for _ in $(seq 200); do
  [ -s "$WORK/display" ] && break
  kill -0 "$XVFB_PID" 2>/dev/null || break
  sleep 0.05
done
[ -s "$WORK/display" ] || { say "FAILED: Xvfb did not start"; cat "$WORK/xvfb.err"; exit 1; }
export DISPLAY=":$(cat "$WORK/display")"
mkdir -p "$SHOTS"
rm -f "$SHOTS"/*.png

# A Unix path as the program sees it, on Wine's drive Z:.
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
FILE=$(windows_path "$DEMO")
# Larger than one send takes (1 MiB), made while the first checks run.
python3 scripts/make_demo_app.py --size $((4 << 20)) --per-record 250 "$WORK/big_APP.s19" &
BIG_MAKER=$!
MAIN='``'
BOX=tideload

drive() { wine "$DRIVER" "$@"; }
# expect WHAT WANT COMMAND...: the command prints WANT.
expect() {
  local what=$1 want=$2 got
  shift 2
  got=$("$@")
  [ "$got" = "$want" ] || fail "$what: '$got', not '$want'"
}
# The octet boxes of the main window as one address.
boxes() {
  local id out=
  for id in 1000 1001 1002 1003; do out+="${out:+.}$(drive text "$MAIN" "$id")"; done
  echo "$out"
}

SETTINGS='HKLM\SOFTWARE\Ombrelin\TIDELOAD\Settings'
reg_value() {  # reg_value KEY NAME: "TYPE DATA" of the value
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { type = $2; $1 = ""; $2 = ""; sub(/^ +/, ""); print type " " $0 }'
}

# program ARGS...: tideload.exe in the background (PROGRAM); ended STATUS
# waits for it (at most 60 s) and checks its exit status.
program() {
  timeout 60 wine "$EXE" "$@" 2>>"$WORK/program.err" &
  PROGRAM=$!
  PIDS+=("$PROGRAM")
}
ended() {
  wait "$PROGRAM"
  local status=$?
  [ "$status" -eq "$1" ] || fail "tideload.exe ended with $status, not $1"
}
# sim ADDRESS ARGS...: tideload-sim listening there (SIM, its stderr in
# SIM_ERR); sim_ok waits for it and checks that the module saw what it
# expects.
sim() {
  local address=$1
  shift
  rm -f "$WORK/ready"
  SIM_ERR="$WORK/sim-$address.err"
  "$BUILD/tideload-sim" --listen "$address" --ready-file "$WORK/ready" --timeout 45 "$@" \
    >/dev/null 2>"$SIM_ERR" &
  SIM=$!
  PIDS+=("$SIM")
  for _ in $(seq 500); do
    [ -e "$WORK/ready" ] && return 0
    kill -0 "$SIM" 2>/dev/null || break
    sleep 0.01
  done
  fail "tideload-sim $* did not start: $(cat "$SIM_ERR")"
}
sim_ok() {  # sim_ok [STATUS]: the sim's exit status (0)
  wait "$SIM"
  local status=$?
  [ "$status" -eq "${1:-0}" ] || fail "the module ended with $status: $(cat "$SIM_ERR")"
}
# The controls, tab order and default button of a shown dialog against its
# layout. The edit boxes' texts are what the program put there; Wine's
# (themed) progress bar draws its frame itself and drops the edge style
# that it has on Windows (the picture shows the frame).
# At the DPI in force (DPI), the icon's pixels scaled with it; nothing
# clipped or outside the dialog.
DPI=96
layout_matches() {
  local caption=$1 what
  if ! diff <(drive rects "$caption" | sed -E 's/^([0-9-]+ Edit )"[^"]*"/\1""/') \
      <("$LAYOUTS" rects "$caption" "$DPI" | sed -E '/ msctls_progress32 /s/ border//') >"$WORK/diff"; then
    fail "\"$caption\" differs from its layout at $DPI DPI (< shown, > layout):"
    cat "$WORK/diff"
  fi
  drive fits "$caption" >"$WORK/fits" || { fail "\"$caption\" at $DPI DPI:"; cat "$WORK/fits"; }
  for what in taborder default; do
    expect "\"$caption\" $what" "$("$LAYOUTS" "$what" "$caption")" drive "$what" "$caption"
  done
}
# shot NAME LEFT TOP RIGHT BOTTOM: that part of the screen as
# $SHOTS/NAME.png, once two looks in a row agree (the window has painted);
# what moves all the while (a progress bar) is taken as last seen.
shot() {
  local name=$1 size="$(($4 - $2))x$(($5 - $3))+$2+$3" look="$WORK/look" last="$WORK/last"
  rm -f "$last"
  for _ in $(seq 10); do
    import -window root -crop "$size" +repage -depth 8 "rgb:$look"
    [ -e "$last" ] && cmp -s "$look" "$last" && break
    mv "$look" "$last"
  done
  [ -e "$look" ] || mv "$last" "$look"
  convert -size "${size%%+*}" -depth 8 "rgb:$look" "$SHOTS/$name.png" || fail "no picture $name"
}
# The green pixels (the application icon's arrow, its small size blends
# them) in the top left corner of a picture, where the title bar shows the
# window's small icon.
icon_pixels() {
  convert "$SHOTS/$1.png" -crop 24x24+0+0 +repage txt:- |
    awk -F'[(),]' 'NR > 1 && $4 >= 96 && $4 > 2 * $3 && $4 > 2 * $5 { n++ } END { print n + 0 }'
}
shoot() {  # shoot NAME CAPTION: a picture of that window
  local rect
  rect=$(drive wait "$2") || { fail "no \"$2\" to picture"; return; }
  # shellcheck disable=SC2086  # the rectangle's four numbers
  shot "$1" $rect
}

say "SHA-256 through CryptoAPI against the known answers"
wine "$WIN32_BUILD/sha256_check.exe" >"$WORK/sha256_check.out" 2>&1 ||
  fail "sha256_check.exe: $(tr -d '\r' <"$WORK/sha256_check.out")"

# ---------------------------------------------------------------- what users get
step=$SECONDS
VERSION=$(sed -n 's/^VERSION=//p' "$WIN32_BUILD/product.env")
PUBLISHER=$(sed -n 's/^PUBLISHER=//p' "$WIN32_BUILD/product.env")
PROGRAMS=(tideload.exe)
[ -e "$WIN32_BUILD/tideload-cli.exe" ] && PROGRAMS+=(tideload-cli.exe)
say "the resources of tideload.exe: icons, version, manifest; the zip of ${PROGRAMS[*]}"
# TYPE:NAME of every resource, in hexadecimal.
resources() {
  i686-w64-mingw32-objdump -p "$1" | awk '
    /The .rsrc Resource Directory/ { on = 1 }
    on && /^[0-9a-f]+   Entry: ID:/ { type = $4; gsub(/^0x0*|,$/, "", type) }
    on && /^[0-9a-f]+     Entry: ID:/ { name = $4; gsub(/^0x0*|,$/, "", name); printf "%s%s:%s", sep, type, name; sep = " " }
    END { print "" }'
}
# Three icons (16, 32, 48 pixels) in icon group 128, a version, a manifest.
expect "the resources" "3:1 3:2 3:3 e:80 10:1 18:1" resources "$EXE"
# The version resource's texts, each after its key (UTF-16 strings).
version_texts() {
  strings -el -n 3 "$1" | awk '/^(FileVersion|OriginalFilename|ProductName)$/ { key = $0; next }
    key != "" { printf "%s%s %s", sep, key, $0; sep = " "; key = "" } END { print "" }'
}
expect "the version's texts" "FileVersion $VERSION OriginalFilename tideload.exe ProductName Tideload" \
  version_texts "$EXE"
grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$EXE" || fail "no controls of version 6 in the manifest"
grep -q '<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>' "$EXE" ||
  fail "the manifest is not DPI aware"
# Without it a standard user's settings are virtualized, as they should be.
! grep -q '<requestedExecutionLevel' "$EXE" || fail "the manifest asks for an execution level"
ZIP="$WIN32_BUILD/tideload-$VERSION-win32.zip"
expect "the zip's files" "$(printf "tideload-$VERSION/%s\n" README.txt "${PROGRAMS[@]}" | sort)" \
  python3 -c 'import sys, zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$ZIP"

say "the installer, silent, in a fresh prefix: the program runs from Program Files; the uninstaller"
in_install() { WINEPREFIX="$INSTALL_PREFIX" "$@"; }
INSTALLED='C:\Program Files\Tideload'
INSTALLED_FILES="$INSTALL_PREFIX/drive_c/Program Files/Tideload"
SHORTCUT="$INSTALL_PREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tideload.lnk"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tideload'
ENVIRONMENT_KEY='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
# The prefix's files; the uninstaller runs on as a copy of itself in the
# user's Temp folder, which goes at the next restart.
installed_files() { (cd "$INSTALL_PREFIX/drive_c" && find . -path './users/*/Temp' -prune -o -print | sort); }
installed_files >"$WORK/files.before"
path_before=$(in_install reg_value "$ENVIRONMENT_KEY" Path)
in_install wine "$WIN32_BUILD/tideload-$VERSION-setup.exe" /S || fail "the silent install ended with $?"
for program in "${PROGRAMS[@]}" uninstall.exe; do
  [ -e "$INSTALLED_FILES/$program" ] || fail "no $program in Program Files"
done
for program in "${PROGRAMS[@]}"; do
  cmp -s "$WIN32_BUILD/$program" "$INSTALLED_FILES/$program" || fail "the installed $program differs from the built one"
done
strings -a "$SHORTCUT" 2>/dev/null | grep -qxF "$INSTALLED\tideload.exe" ||
  fail "no Start-menu entry for $INSTALLED\tideload.exe"
for value in "DisplayName REG_SZ Tideload" "DisplayVersion REG_SZ $VERSION" "Publisher REG_SZ $PUBLISHER" \
    "QuietUninstallString REG_SZ \"$INSTALLED\uninstall.exe\" /S"; do
  expect "the uninstall key's ${value%% *}" "${value#* }" in_install reg_value "$UNINSTALL_KEY" "${value%% *}"
done
expect "the PATH after a silent install" "$path_before" in_install reg_value "$ENVIRONMENT_KEY" Path
timeout 60 env WINEPREFIX="$INSTALL_PREFIX" wine "$INSTALLED\tideload.exe" 2>>"$WORK/program.err" &
PROGRAM=$!
PIDS+=("$PROGRAM")
expect "the installed program's controls" 6 in_install drive controls "$MAIN" 1
in_install drive click "$MAIN" 2 >/dev/null
ended 255
installed_cli_version() { in_install wine "$INSTALLED\tideload-cli.exe" --version | tr -d '\r'; }
[ -e "$INSTALLED_FILES/tideload-cli.exe" ] &&
  expect "the installed tideload-cli --version" "Tideload Version $VERSION" installed_cli_version
in_install wine "$WIN32_BUILD/tideload-$VERSION-setup.exe" /S /PATH || fail "the install with /PATH ended with $?"
expect "the PATH after /PATH" "$path_before;$INSTALLED" in_install reg_value "$ENVIRONMENT_KEY" Path
# A setting as the program leaves it: the uninstaller keeps it.
in_install wine reg add "$SETTINGS" /v IPAddr /t REG_DWORD /d 167772165 /f >/dev/null 2>&1
in_install wine "$INSTALLED_FILES/uninstall.exe" /S || fail "the silent uninstall ended with $?"
in_install wineserver -w
installed_files | diff "$WORK/files.before" - >"$WORK/diff" || { fail "left after the uninstall (> left):"; cat "$WORK/diff"; }
in_install wine reg query "$UNINSTALL_KEY" >/dev/null 2>&1 && fail "the uninstall key is still there"
expect "the PATH after the uninstall" "$path_before" in_install reg_value "$ENVIRONMENT_KEY" Path
expect "the setting after the uninstall" "REG_DWORD 0xa000005" in_install reg_value "$SETTINGS" IPAddr
say "  in $((SECONDS - step)) s"

step=$SECONDS
say "the main window: its layout, About through the system menu, Dismiss gives -1"
program
if drive wait "$MAIN" >/dev/null; then
  layout_matches "$MAIN"
  expect "the controls' version (the manifest's)" 6 drive controls "$MAIN" 1
  expect "the main window's focus" 1 drive focus "$MAIN"
  expect "the main window's owner" none drive owner "$MAIN"
  expect "a fresh start's address" "0.0.0.0" boxes
  expect "the reboot box of a fresh start" 0 drive check "$MAIN" 1012
  shoot main "$MAIN"
  # Under Wine a window's icons cannot be asked for from another process
  # (WM_GETICON answers 0): the title bar shows the small one.
  [ "$(icon_pixels main)" -ge 10 ] || fail "the main window's title bar shows no application icon"
  # A bad octet: its message, then the focus on that box, all of it selected.
  drive type "$MAIN" 1002 256 >/dev/null
  drive click "$MAIN" 1 >/dev/null
  expect "octet 256" "Please enter an integer between 0 and 255." drive boxtext
  drive ok >/dev/null
  expect "the focus after octet 256" "1002 0 3" drive focus "$MAIN"
  drive type "$MAIN" 1002 0 >/dev/null
  # Enter in a box presses Update, the default button.
  drive key "$MAIN" 1003 enter >/dev/null
  expect "Enter on 0.0.0.0" "Invalid IP address " drive boxtext
  drive ok >/dev/null
  read -r l t r b <<<"$(drive wait "$MAIN")"
  if menu=$(drive sysmenu "$MAIN"); then
    read -r ml _ mr mb <<<"$menu"
    shot main-sysmenu "$((ml < l ? ml : l))" "$t" "$((mr > r ? mr : r))" "$((mb > b ? mb : b))"
    drive menulast "$MAIN" >/dev/null || fail "the system menu's last item"
  else
    fail "no system menu"
  fi
  if drive wait "About Tideload" >/dev/null; then
    layout_matches "About Tideload"
    expect "About's owner" '"``" disabled' drive owner "About Tideload"
    shoot about "About Tideload"
    [ "$(icon_pixels about)" -eq 0 ] || fail "About's title bar shows an icon"
    drive click "About Tideload" 1 >/dev/null
    drive gone "About Tideload" >/dev/null || fail "About's OK does not close it"
  else
    fail "the system menu's last item does not open About"
  fi
  # The command with its four low bits set is About as well.
  drive syscommand "$MAIN" $((16 | 3)) >/dev/null
  drive wait "About Tideload" >/dev/null || fail "system command 19 does not open About"
  drive click "About Tideload" 1 >/dev/null
  drive gone "About Tideload" >/dev/null
  drive click "$MAIN" 2 >/dev/null
fi
ended 255
say "  in $((SECONDS - step)) s"

step=$SECONDS
say "Find: the tree as tideload-cli find sees the same modules; OK fills the boxes"
MODULES=(
  --module "name=Pümpe,app=Wässer 2.1,mac=02:00:00:00:01:01,static=10.0.0.5,from=10.0.0.5"
  --module "name=Gateway,app=Bridge,mac=02:00:00:00:09:01,device=02:00:00:00:09:00,static=10.0.9.1,from=10.0.9.1"
  --module "name=Gateway,app=Bridge,mac=02:00:00:00:09:02,device=02:00:00:00:09:00,kind=1,from=10.0.9.2"
  --module "name=Odd,app=X,mac=02:00:00:00:05:01,static=10.0.5.1,current=10.0.5.9,from=10.0.5.7"
)
# The modules above answering searches on loopback, as DISCOVER.
start_discover() {
  rm -f "$WORK/discover.ready"
  "$BUILD/tideload-sim" discover --loopback --seconds 60 --ready-file "$WORK/discover.ready" "${MODULES[@]}" \
    2>"$WORK/discover.err" &
  DISCOVER=$!
  PIDS+=("$DISCOVER")
  for _ in $(seq 500); do [ -e "$WORK/discover.ready" ] && break; sleep 0.01; done
}
start_discover
# Depth, state image and label of every item, as the driver prints them:
# the label's bytes as they came (the first name's UTF-8 is two Windows-1252
# characters to both), what is not printable ASCII as \xNN.
"$BUILD/tideload-cli" find --json --expect 4 --seconds 5 2>"$WORK/find.err" | python3 -c '
import json, sys
def printable(text):
    return "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02X" % b for b in text.encode("cp1252"))
def walk(items, depth):
    for i in items:
        print(depth, i["stateImage"], printable(i["label"]))
        walk(i["children"], depth + 1)
walk(json.load(sys.stdin), 0)' >"$WORK/tree.expected"
[ "$(wc -l <"$WORK/tree.expected")" -eq 5 ] || fail "tideload-cli find saw: $(cat "$WORK/tree.expected" "$WORK/find.err")"
program
drive click "$MAIN" 1004 >/dev/null
if drive wait "Find Ombrelins" >/dev/null; then
  # "Search Again" is disabled while the first search runs.
  expect "Find's focus" 1015 drive focus "Find Ombrelins"
  expect "Find's owner" '"``" disabled' drive owner "Find Ombrelins"
  drive tree "Find Ombrelins" 1015 5 >"$WORK/tree.shown"
  diff "$WORK/tree.shown" "$WORK/tree.expected" >"$WORK/diff" || { fail "the tree (< shown, > find):"; cat "$WORK/diff"; }
  drive enabled "Find Ombrelins" 1008 >/dev/null || fail "Search Again stays disabled"
  layout_matches "Find Ombrelins"
  drive expand "Find Ombrelins" 1015 "Gateway running :Bridge" >/dev/null
  shoot find "Find Ombrelins"
  drive select "Find Ombrelins" 1015 "Odd  at 10.0.5.9 running :X" >/dev/null
  drive click "Find Ombrelins" 1 >/dev/null
  drive gone "Find Ombrelins" >/dev/null || fail "Find's OK does not close it"
  expect "the boxes after Find" "10.0.5.9" boxes
  expect "IPAddr after Find" "REG_DWORD 0xa000509" reg_value "$SETTINGS" IPAddr
  # Nobody answers now: OK has nothing to take, Cancel leaves all as it was.
  kill "$DISCOVER" 2>/dev/null
  drive click "$MAIN" 1004 >/dev/null
  drive wait "Find Ombrelins" >/dev/null
  drive click "Find Ombrelins" 1 >/dev/null
  expect "Find's OK on an empty tree" 'You must first select a device in the\nSelect a Unit in the tree.' drive boxtext
  drive ok >/dev/null
  drive click "Find Ombrelins" 2 >/dev/null
  expect "Find cancelled" "IP not set" drive boxtext
  drive ok >/dev/null
  expect "the boxes after a cancelled Find" "10.0.5.9" boxes
else
  fail "Find... opens no \"Find Ombrelins\""
fi
drive click "$MAIN" 2 >/dev/null
ended 255
say "  in $((SECONDS - step)) s"

step=$SECONDS
say "the next start shows the stored address; -r ticks the box; Browse... stores the file"
program -r
expect "the stored address" "10.0.5.9" boxes
expect "the reboot box after -r" 1 drive check "$MAIN" 1012
drive click "$MAIN" 1005 >/dev/null
if drive wait Open >/dev/null; then
  shoot open Open
  # The name box of Wine's file dialog (edt1 inside cmb13), and Open.
  drive type Open 1148 "$FILE" >/dev/null
  drive click Open 1 >/dev/null
  drive gone Open >/dev/null || fail "the file-open dialog stays open"
  expect "the file name box after Browse..." "$FILE" drive text "$MAIN" 1006
else
  fail "Browse... opens no file-open dialog"
fi
drive click "$MAIN" 2 >/dev/null
ended 255
say "  in $((SECONDS - step)) s"

step=$SECONDS
say "the credentials dialog answered; progress part-way; a failure's message boxes"
"$BUILD/tideload-cli" inspect --output "$WORK/expected.bin" "$DEMO" >/dev/null || fail "the demo does not load"
sim 127.0.0.1 --user admin --password secret --save "$WORK/image.bin"
program -I127.0.0.1 "-F$FILE" -A
if drive wait "Password needed" >/dev/null; then
  layout_matches "Password needed"
  expect "the credentials' focus" 1 drive focus "Password needed"
  expect "the credentials' owner" '"Program Ombrelin" disabled' drive owner "Password needed"
  shoot password "Password needed"
  drive type "Password needed" 1013 admin >/dev/null
  drive type "Password needed" 1014 secret >/dev/null
  drive click "Password needed" 1 >/dev/null
else
  fail "no \"Password needed\""
fi
ended 0
sim_ok
cmp -s "$WORK/expected.bin" "$WORK/image.bin" || fail "the image after the credentials differs from the file's"

sim 127.0.0.1 --pace 40 --expect-reboot D
program -I127.0.0.1 "-F$FILE" -A
if drive progress "Program Ombrelin" 1009 20 >/dev/null; then
  layout_matches "Program Ombrelin"
  expect "the progress dialog's focus" 2 drive focus "Program Ombrelin"
  expect "the progress dialog's owner" '"``" disabled' drive owner "Program Ombrelin"
  shoot progress "Program Ombrelin"
else
  fail "the progress bar did not move"
fi
ended 0
sim_ok

sim 127.0.0.1 --error-at 103
program -I127.0.0.1 "-F$FILE" -A
expect "the module's error" "Error: Bad image" drive boxtext
expect "the error box's owner" '"Program Ombrelin" disabled' drive owner "$BOX"
shoot messagebox "$BOX"
drive ok >/dev/null
expect "after the module's error" "Update Failed" drive boxtext
drive ok >/dev/null
sim_ok
# The main window stays open for another try; started with -A, it ends
# without a word when that one succeeds.
sim 127.0.0.1
drive click "$MAIN" 1 >/dev/null || fail "the main window did not stay open"
ended 0
sim_ok
say "  in $((SECONDS - step)) s"

# ---------------------------------------------------------------- beside the slow one
# The idle time-out takes 30 s: a copy of the program under another name
# (its message boxes bear that name) runs it against a silent module on
# 127.0.0.2 while the checks below go on; the watcher notes when its box
# came.
step=$SECONDS
SLOW="$WORK/tideload-slow.exe"
cp "$EXE" "$SLOW"
sim 127.0.0.2 --silent-at 102 --timeout 60
SLOW_SIM=$SIM
SLOW_SIM_ERR=$SIM_ERR
slow_started=$(date +%s.%N)
timeout 90 wine "$SLOW" -I127.0.0.2 "-F$FILE" -A &
SLOW_PROGRAM=$!
PIDS+=("$SLOW_PROGRAM")
( wine "$DRIVER" -x tideload-slow.exe -w 60 boxtext >"$WORK/slow.box"; date +%s.%N >"$WORK/slow.at" ) &
SLOW_WATCHER=$!

say "-I -F -R -A: byte-exact image, reboot R, exit 0"
sim 127.0.0.1 --save "$WORK/image.bin" --expect-reboot R
program -I127.0.0.1 "-F$FILE" -R -A
ended 0
sim_ok
if cmp -s "$WORK/expected.bin" "$WORK/image.bin"; then
  say "  image of $(stat -c %s "$WORK/image.bin") bytes arrived byte-exact"
else
  fail "the image that arrived differs from the file's"
fi

say "Update pressed: \"Programming Complete without Error.\", then exit 0"
sim 127.0.0.1
program -I127.0.0.1 "-F$FILE"
drive click "$MAIN" 1 >/dev/null
expect "a pressed Update's success" "Programming Complete without Error." drive boxtext
drive ok >/dev/null
ended 0
sim_ok

say "a 4 MiB image: sent in pieces, through the write queue, byte-exact"
wait "$BIG_MAKER" || fail "no big image file"
"$BUILD/tideload-cli" inspect --output "$WORK/big.bin" "$WORK/big_APP.s19" >/dev/null || fail "the big file does not load"
sim 127.0.0.1 --save "$WORK/image.bin"
program -I127.0.0.1 "-F$(windows_path "$WORK/big_APP.s19")" -A
ended 0
sim_ok
cmp -s "$WORK/big.bin" "$WORK/image.bin" || fail "the big image that arrived differs from the file's"

say "failures: their message boxes in order, the main window stays open"
# sim arguments | its status | program arguments | what the user does | the
# boxes' texts | how the main window is closed (Dismiss, Escape, close box)
while IFS='|' read -r sim_args sim_status program_args action texts closing; do
  # shellcheck disable=SC2086  # the words of the table's columns
  [ -n "$sim_args" ] && sim 127.0.0.1 $sim_args
  # shellcheck disable=SC2086
  program $program_args
  case $action in
    password*)
      drive type "Password needed" 1013 admin >/dev/null
      drive type "Password needed" 1014 "${action#password }" >/dev/null
      drive click "Password needed" 1 >/dev/null ;;
    "cancel credentials") drive click "Password needed" 2 >/dev/null ;;
    "cancel update") drive click "Program Ombrelin" 2 >/dev/null ;;
  esac
  IFS=';' read -ra want <<<"$texts"
  for text in "${want[@]}"; do
    expect "tideload.exe $program_args against the sim's $sim_args" "$text" drive boxtext
    drive ok >/dev/null
  done
  drive wait "$MAIN" >/dev/null || fail "the main window did not stay open after $texts"
  case $closing in
    escape) drive key "$MAIN" 1 escape >/dev/null ;;
    close) drive close "$MAIN" >/dev/null ;;
    *) drive click "$MAIN" 2 >/dev/null ;;
  esac
  ended 255
  [ -n "$sim_args" ] && sim_ok "$sim_status"
done <<CASES
--wrong-platform|0|-I127.0.0.1 -F$FILE -A||Error: Wrong platform;Update Failed|dismiss
--late-error|0|-I127.0.0.1 -F$FILE -A||Error: Bad image;Update Failed|dismiss
--user admin --password secret|1|-I127.0.0.1 -F$FILE -A|password wrong|Error: Bad password;Update Failed|escape
--user admin --password secret|1|-I127.0.0.1 -F$FILE -A|cancel credentials|Update Failed|close
--silent-at 100|0|-I127.0.0.1 -F$FILE -A|cancel update|Update Failed|dismiss
||-I127.0.0.1 -FZ:\nowhere_APP.s19 -A||Failed to open file;Update Failed|dismiss
||-I0.0.0.0 -A||Invalid IP address |dismiss
CASES

say "the registry; the next Browse... starts in the stored file's folder"
expect "IPAddr" "REG_DWORD 0x7f000001" reg_value "$SETTINGS" IPAddr
expect "FileDir" "REG_SZ $FILE" reg_value "$SETTINGS" FileDir
program
drive click "$MAIN" 1005 >/dev/null
# The "Look in" box names the folder the dialog opened in.
expect "the folder of the next Browse..." "$(basename "$(dirname "$DEMO")")" drive text Open 1137
drive click Open 2 >/dev/null
drive gone Open >/dev/null
drive click "$MAIN" 2 >/dev/null
ended 255

say "the idle time-out: \"Error: Timed out\" 30 s after the start"
wait "$SLOW_WATCHER"
expect "the silent module" "Error: Timed out" cat "$WORK/slow.box"
if [ -s "$WORK/slow.at" ]; then
  after=$(awk -v a="$slow_started" -v b="$(cat "$WORK/slow.at")" 'BEGIN { printf "%.1f", b - a }')
  awk -v s="$after" 'BEGIN { exit !(s >= 30 && s < 40) }' || fail "the time-out came after $after s"
  say "  after $after s"
fi
slow() { wine "$DRIVER" -x tideload-slow.exe "$@"; }
slow ok >/dev/null
expect "after the time-out" "Update Failed" slow boxtext
slow ok >/dev/null
slow click "$MAIN" 2 >/dev/null || fail "the slow one's main window did not stay open"
wait "$SLOW_PROGRAM"
status=$?
[ "$status" -eq 255 ] || fail "tideload-slow.exe ended with $status, not 255"
SIM=$SLOW_SIM
SIM_ERR=$SLOW_SIM_ERR
sim_ok
say "  in $((SECONDS - step)) s"

# ---------------------------------------------------------------- at 144 DPI
step=$SECONDS
DPI=144
say "at $DPI DPI: every dialog where its layout puts it, nothing clipped; pictured"
# Each program reads it as it starts.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$DPI" /f >/dev/null 2>&1
start_discover
sim 127.0.0.1 --user admin --password secret --pace 40
program -I127.0.0.1 "-F$FILE"
if drive wait "$MAIN" >/dev/null; then
  layout_matches "$MAIN"
  shoot main-$DPI "$MAIN"
  drive syscommand "$MAIN" 16 >/dev/null
  if drive wait "About Tideload" >/dev/null; then
    layout_matches "About Tideload"
    shoot about-$DPI "About Tideload"
    drive click "About Tideload" 1 >/dev/null
    drive gone "About Tideload" >/dev/null
  else
    fail "no About at $DPI DPI"
  fi
  drive click "$MAIN" 1004 >/dev/null
  # The tree filled and the search over.
  if drive tree "Find Ombrelins" 1015 5 >/dev/null && drive enabled "Find Ombrelins" 1008 >/dev/null; then
    layout_matches "Find Ombrelins"
    drive expand "Find Ombrelins" 1015 "Gateway running :Bridge" >/dev/null
    shoot find-$DPI "Find Ombrelins"
  else
    fail "no Find with its tree at $DPI DPI"
  fi
  drive click "Find Ombrelins" 2 >/dev/null
  shoot messagebox-$DPI "$BOX"
  expect "Find cancelled at $DPI DPI" "IP not set" drive boxtext
  drive ok >/dev/null
  drive click "$MAIN" 1 >/dev/null
  if drive wait "Password needed" >/dev/null; then
    layout_matches "Password needed"
    shoot password-$DPI "Password needed"
    drive type "Password needed" 1013 admin >/dev/null
    drive type "Password needed" 1014 secret >/dev/null
    drive click "Password needed" 1 >/dev/null
  else
    fail "no \"Password needed\" at $DPI DPI"
  fi
  if drive progress "Program Ombrelin" 1009 20 >/dev/null; then
    layout_matches "Program Ombrelin"
    shoot progress-$DPI "Program Ombrelin"
  else
    fail "the progress bar did not move at $DPI DPI"
  fi
  expect "the update at $DPI DPI" "Programming Complete without Error." drive boxtext
  drive ok >/dev/null
fi
ended 0
sim_ok
kill "$DISCOVER" 2>/dev/null
say "  in $((SECONDS - step)) s"

say "screenshots in $SHOTS: $(cd "$SHOTS" && echo *.png)"
say "all in $((SECONDS - started)) s in the namespace"
[ "$failed" -eq 0 ] && say "ok"
exit "$failed"
