#!/bin/bash
# lan_test.sh CASE BUILD_DIR SOURCE_DIR: one discovery check in a private LAN.
set -u
CASE=$1 BUILD=$2 SRC=$3
export TESTLAN="tlt$$"
L="$SRC/scripts/testlan.sh"
SIM="$BUILD/tideload-sim"
CLI="$BUILD/tideload-cli"
WORK=$(mktemp -d)
cleanup() { "$L" down >/dev/null 2>&1; rm -rf "$WORK"; }
trap cleanup EXIT
"$L" check || exit 77

fail=0
expect_line() {  # expect_line FILE LINE: LINE appears exactly once
  local n; n=$(grep -cFx -- "$2" "$1")
  if [ "$n" != 1 ]; then echo "FAIL: '$2' appears $n times"; fail=1; else echo "ok: $2"; fi
}
expect_count() {  # expect_count FILE N
  local n; n=$(wc -l <"$1")
  if [ "$n" != "$2" ]; then echo "FAIL: $n lines, expected $2"; fail=1; else echo "ok: $n lines"; fi
}
SIM_PIDS=()
sim() {  # sim HOST ARGS...: a simulated module host in the background
  local host=$1; shift
  "$L" exec "$host" "$SIM" discover --seconds 30 --ready-file "$WORK/ready.$host" "$@" 2>"$WORK/sim.$host.log" &
  SIM_PIDS+=($!)
}
stop_sims() {  # stops every sim and waits until each has written its summary
  kill "${SIM_PIDS[@]}" 2>/dev/null
  wait "${SIM_PIDS[@]}" 2>/dev/null
  SIM_PIDS=()
}
wait_ready() {  # wait_ready HOST...
  local h i
  for h in "$@"; do
    for i in $(seq 600); do [ -e "$WORK/ready.$h" ] && break; sleep 0.05; done
    [ -e "$WORK/ready.$h" ] || { echo "FAIL: sim on $h did not start"; cat "$WORK/sim.$h.log"; exit 1; }
  done
}
dual_device() {  # the host with two interfaces is one device
  sim dual --module "name=Duo,app=Dual,mac=02:00:00:00:09:01,device=02:00:00:00:09:00,static=10.77.9.1,from=10.77.9.1" \
           --module "name=Duo,app=Dual,mac=02:00:00:00:09:02,device=02:00:00:00:09:00,kind=1,from=10.77.9.2" "$@"
}

case "$CASE" in
  desktop)
    # The desktop program's "Find..." on real sockets: two modules and the
    # two-interface device, OK fills the boxes; picture in screenshots/.
    [ -x "$BUILD/tideload_qt_tests" ] || exit 77
    "$L" up 2 >/dev/null || exit 1
    sim m1 --module "name=Host-1,app=App1,mac=02:00:00:00:01:01"
    sim m2 --module "name=Host-2,app=App2,mac=02:00:00:00:01:02"
    dual_device
    wait_ready m1 m2 dual
    "$L" exec prog env QT_QPA_PLATFORM=offscreen TIDELOAD_LAN_ITEMS=5 TIDELOAD_SCREENSHOT_DIR= \
      "$BUILD/tideload_qt_tests" --gtest_filter='FindWindowLan.*' >"$WORK/out" 2>&1 || { cat "$WORK/out"; fail=1; }
    grep -E '^(  )?[A-Z]' "$WORK/out" | grep -v '^\[' || true
    grep -q "1 test" "$WORK/out" && grep -q PASSED "$WORK/out" || { echo "FAIL: desktop find"; fail=1; }
    [ -s "$BUILD/screenshots/find-lan.png" ] || { echo "FAIL: no picture"; fail=1; }
    ;;
  groups)
    "$L" up 20 >/dev/null || exit 1
    hosts=(dual)
    for i in $(seq 20); do
      sim "m$i" --module "name=Host-$i,app=App$i,mac=02:00:00:00:01:$(printf %02x "$i")"
      hosts+=("m$i")
    done
    dual_device
    wait_ready "${hosts[@]}"
    "$L" exec prog "$CLI" find --seconds 0.5 >"$WORK/out" 2>"$WORK/err"
    cat "$WORK/out"
    for i in $(seq 20); do expect_line "$WORK/out" "Host-$i DHCP'd at 10.77.1.$i running :App$i"; done
    expect_line "$WORK/out" "Duo running :Dual"
    expect_line "$WORK/out" "  Ethernet at 10.77.9.1"
    expect_line "$WORK/out" "  WiFi DHCP'd at 10.77.9.2"
    expect_count "$WORK/out" 23
    # The two children sit right under their group.
    grep -A2 -Fx "Duo running :Dual" "$WORK/out" | tail -2 | grep -c '^  ' | grep -qx 2 || { echo "FAIL: children"; fail=1; }
    ;;
  inconsistent)
    "$L" up 1 >/dev/null || exit 1
    sim m1 --module "name=Moved,app=A,mac=02:00:00:00:01:01,current=10.77.1.77" \
           --module "name=Fine,app=B,mac=02:00:00:00:01:02,current=10.77.1.1"
    wait_ready m1
    "$L" exec prog "$CLI" find --json --seconds 0.5 >"$WORK/out" 2>"$WORK/err"
    cat "$WORK/out"
    grep -q '"label": "Moved DHCP'"'"'d at 10.77.1.77 running :A", "stateImage": 3, "address": "10.77.1.77", "source": "10.77.1.1", "dhcp": true, "consistent": false' "$WORK/out" || { echo "FAIL: Moved"; fail=1; }
    grep -q '"label": "Fine DHCP'"'"'d at 10.77.1.1 running :B", "stateImage": 2, "address": "10.77.1.1", "source": "10.77.1.1", "dhcp": true, "consistent": true' "$WORK/out" || { echo "FAIL: Fine"; fail=1; }
    # Only one entry each: the heard list stopped the repeats, or the merge dropped them.
    [ "$(grep -c '"label"' "$WORK/out")" = 2 ] || { echo "FAIL: count"; fail=1; }
    ;;
  loss)
    # 10 hosts with 12 interfaces each, 30% of all replies dropped.
    "$L" up 10 >/dev/null || exit 1
    hosts=()
    for i in $(seq 10); do
      mods=()
      for j in $(seq 12); do mods+=(--module "name=L$i-$j,app=x,mac=02:00:00:00:$(printf %02x "$i"):$(printf %02x "$j")"); done
      sim "m$i" --loss 0.3 --seed "$i" "${mods[@]}"
      hosts+=("m$i")
    done
    wait_ready "${hosts[@]}"
    "$L" exec prog "$CLI" find --seconds 0.3 >"$WORK/out" 2>"$WORK/err"
    stop_sims  # they print what the loss did
    cat "$WORK"/sim.*.log | grep -v '^tideload-sim discover: 12 interface' >"$WORK/sims"
    never=$(sed -n 's/^never answered://p' "$WORK/sims" | tr ' ' '\n' | grep -c . || true)
    dropped=$(sed -n 's/.*sent, \([0-9]*\) dropped/\1/p' "$WORK/sims" | awk '{s+=$1} END {print s+0}')
    later=$(sed -n 's/.*answered later: \([0-9]*\)/\1/p' "$WORK/sims" | awk '{s+=$1} END {print s+0}')
    echo "replies dropped: $dropped; search replies dropped but answered later: $later; never answered: $never"
    [ "${dropped:-0}" -gt 40 ] || { echo "FAIL: the loss did not happen"; fail=1; }
    [ "${later:-0}" -gt 10 ] || { echo "FAIL: nothing for the heard lists to recover"; fail=1; }
    # Every interface that got any reply out is found, exactly once.
    expect_count "$WORK/out" $((120 - never))
    for i in $(seq 10); do for j in $(seq 12); do
      if sed -n 's/^never answered://p' "$WORK/sims" | tr ' ' '\n' | grep -qx "L$i-$j"; then continue; fi
      [ "$(grep -cFx "L$i-$j DHCP'd at 10.77.1.$i running :x" "$WORK/out")" = 1 ] || { echo "FAIL: L$i-$j"; fail=1; }
    done; done
    ;;
  fallback)
    # A module in loopback mode on the program's own host holds 20034.
    "$L" up 3 >/dev/null || exit 1
    sim prog --loopback --module "name=Local,app=L,mac=02:00:00:00:00:99,from=10.77.0.1"
    for i in 1 2 3; do sim "m$i" --module "name=H$i,app=a,mac=02:00:00:00:01:0$i"; done
    dual_device
    wait_ready prog m1 m2 m3 dual
    "$L" exec prog "$CLI" find --seconds 0.5 >"$WORK/out" 2>"$WORK/err"
    cat "$WORK/out" "$WORK/err"
    for i in 1 2 3; do expect_line "$WORK/out" "H$i DHCP'd at 10.77.1.$i running :a"; done
    expect_line "$WORK/out" "Local DHCP'd at 10.77.0.1 running :L"
    expect_line "$WORK/out" "Duo running :Dual"
    expect_count "$WORK/out" 7
    # A second program on the same host: both ports taken.
    "$L" exec prog "$CLI" find --seconds 0 >/dev/null 2>"$WORK/err1" &
    first=$!
    for i in $(seq 600); do
      "$L" exec prog ss -Hunl 'sport = :20035' | grep -q . && break
      sleep 0.05
    done
    "$L" exec prog "$CLI" find --seconds 0 >"$WORK/out2" 2>"$WORK/err2"
    wait "$first"
    expect_line "$WORK/err2" "Unable to Bind socket, is Tideload already open?"
    ;;
  repeats)
    # A device whose wireless interface answers from an address it does not
    # report, and answers every heard list: still one child per interface.
    "$L" up 0 >/dev/null || exit 1
    sim dual --answer-every-list --verbose \
      --module "name=Duo,app=Dual,mac=02:00:00:00:09:01,device=02:00:00:00:09:00,from=10.77.9.1" \
      --module "name=Duo,app=Dual,mac=02:00:00:00:09:02,device=02:00:00:00:09:00,kind=1,current=10.77.9.77,from=10.77.9.2"
    wait_ready dual
    "$L" exec prog "$CLI" find --seconds 0.5 >"$WORK/out" 2>"$WORK/err"
    cat "$WORK/out"
    [ "$(grep -c 'reply Duo (02:00:00:00:09:02)' "$WORK/sim.dual.log")" -ge 4 ] || { echo "FAIL: the sim did not repeat"; fail=1; }
    expect_line "$WORK/out" "Duo running :Dual"
    expect_line "$WORK/out" "  WiFi DHCP'd at 10.77.9.77"
    expect_count "$WORK/out" 3
    ;;
  flood)
    # Replies from ever-new interfaces, 20000 a second, for the whole search:
    # find keeps at most its bound, says how many it left out, ends on time.
    "$L" up 1 >/dev/null || exit 1
    sim m1 --flood 20000
    wait_ready m1
    start=$(date +%s%N)
    "$L" exec prog "$CLI" find --seconds 0.5 >"$WORK/out" 2>"$WORK/err"
    status=$?
    took=$(( ($(date +%s%N) - start) / 1000000 ))
    lines=$(wc -l <"$WORK/out")
    echo "find: status $status, $took ms (planned 5000), $lines interfaces; $(cat "$WORK/err")"
    [ "$status" = 0 ] || { echo "FAIL: status"; fail=1; }
    [ "$took" -lt 15000 ] || { echo "FAIL: did not end on time"; fail=1; }
    [ "$lines" -le 10000 ] && [ "$lines" -ge 1000 ] || { echo "FAIL: interfaces kept"; fail=1; }
    left=$(sed -n 's/^\([0-9]*\) further interfaces were left out$/\1/p' "$WORK/err")
    [ "${left:-0}" -gt 0 ] || { echo "FAIL: no word of those left out"; fail=1; }
    ;;
  recipe)
    # The README's lines for a search in the test LAN (its build folder here).
    "$L" exec prog "$CLI" find >"$WORK/out" 2>"$WORK/err" && { echo "FAIL: exec before up"; fail=1; }
    grep -q "bring it up first" "$WORK/err" || { echo "FAIL: no word of the LAN being down"; cat "$WORK/err"; fail=1; }
    "$L" up 1 >/dev/null || exit 1
    "$L" exec m1 "$SIM" discover --module "name=Pump,app=Valve,mac=02:00:00:00:01:01" 2>/dev/null &
    "$L" exec prog "$CLI" find >"$WORK/out" 2>"$WORK/err"
    status=$?
    "$L" down >/dev/null
    cat "$WORK/out" "$WORK/err"
    [ "$status" = 0 ] || { echo "FAIL: find"; fail=1; }
    expect_line "$WORK/out" "Pump DHCP'd at 10.77.1.1 running :Valve"
    ;;
  texts)
    # A name with a line end, an escape sequence and code-page letters (the
    # euro sign, e acute, and UTF-8 bytes that are two letters), a bell in
    # the application text.
    "$L" up 1 >/dev/null || exit 1
    sim m1 --module "name=Bad"$'\n'"Name"$'\e'"[31m"$'\x80\xe9\xc3\xa9'",app=A"$'\a'",mac=02:00:00:00:01:01"
    wait_ready m1
    "$L" exec prog script -qec "$CLI find --seconds 0" /dev/null >"$WORK/tty" 2>&1 &
    tty=$!
    "$L" exec prog "$CLI" find --json --seconds 0 >"$WORK/json" 2>"$WORK/err"
    wait "$tty"
    cat "$WORK/tty" "$WORK/json"
    grep -qF 'Bad\x0aName\x1b[31m€éÃ© DHCP'"'"'d at 10.77.1.1 running :A\x07' "$WORK/tty" || { echo "FAIL: terminal text"; fail=1; }
    if LC_ALL=C grep -q $'[\x01-\x08\x0b\x0c\x0e-\x1f\x7f]' "$WORK/tty"; then echo "FAIL: raw control characters on the terminal"; fail=1; fi
    grep -qF '"name": "Bad\u000aName\u001b[31m\u20ac\u00e9\u00c3\u00a9", "app": ":A\u0007"' "$WORK/json" || { echo "FAIL: JSON"; fail=1; }
    ;;
  fleet)
    # What find --json found, updated side by side: each device once, the
    # two-interface one through one of its interfaces.
    "$L" up 3 >/dev/null || exit 1
    hosts=(dual)
    for i in 1 2 3; do
      sim "m$i" --module "name=Pump-$i,app=Valve,mac=02:00:00:00:01:0$i"
      "$L" exec "m$i" "$SIM" --listen "10.77.1.$i" --pace 10 --ready-file "$WORK/uready.m$i" 2>"$WORK/usim.m$i.log" &
      hosts+=("m$i")
    done
    dual_device
    "$L" exec dual "$SIM" --listen 0.0.0.0 --pace 10 --ready-file "$WORK/uready.dual" 2>"$WORK/usim.dual.log" &
    dualsim=$!
    wait_ready "${hosts[@]}"
    for h in "${hosts[@]}"; do for i in $(seq 600); do [ -e "$WORK/uready.$h" ] && break; sleep 0.05; done; done
    "$L" exec prog "$CLI" find --json --seconds 0.5 >"$WORK/found.json" 2>"$WORK/err"
    "$L" exec prog "$CLI" update --json --jobs 8 --from "$WORK/found.json" "$SRC/examples/demo_APP.s19" >"$WORK/out" 2>"$WORK/err"
    status=$?
    cat "$WORK/out"
    [ "$status" = 0 ] || { echo "FAIL: status $status"; cat "$WORK/err"; fail=1; kill "$dualsim"; }
    expect_count "$WORK/out" 4
    for a in 10.77.1.1 10.77.1.2 10.77.1.3 '10.77.9.[12]'; do
      [ "$(grep -c '"address": "'"$a"'".*"result": "ok"' "$WORK/out")" = 1 ] || { echo "FAIL: $a"; fail=1; }
    done
    wait "$dualsim" || { echo "FAIL: the dual device's update side"; cat "$WORK/usim.dual.log"; fail=1; }
    ;;
  *) echo "unknown case $CASE"; exit 2 ;;
esac
exit $fail
