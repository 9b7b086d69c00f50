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
find_in() {  # find_in NAME ARGS...: find on prog into $WORK/NAME.out, .err, .status
  local name=$1; shift
  "$L" exec prog "$CLI" find "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  echo $? >"$WORK/$name.status"
  echo "== find $*"; cat "$WORK/$name.out" "$WORK/$name.err"
}
expect_lines() {  # expect_lines FILE LINE...: FILE holds these lines, in this order, and no more
  local want; want=$(printf '%s\n' "${@:2}")
  if [ "$(cat "$1")" != "$want" ]; then echo "FAIL: $1 is not:"; echo "$want"; fail=1; else echo "ok: $(($# - 1)) lines in order"; fi
}
expect_status() {  # expect_status NAME STATUS
  [ "$(cat "$WORK/$1.status")" = "$2" ] || { echo "FAIL: find $1 ended with $(cat "$WORK/$1.status"), not $2"; fail=1; }
}
module() {  # module HOST NAME: one module named NAME, app the name's first letter
  sim "$1" --module "name=$2,app=${2:0:1},mac=02:00:00:00:$3" "${@:4}"
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
    grep -qF '"name": "Bad\u000aName\u001b[31m\u20ac\u00e9\u00c3\u00a9", "app": "A\u0007"' "$WORK/json" || { echo "FAIL: JSON"; fail=1; }
    ;;
  interfaces)
    # prog on two networks, modules on each and a device on both: every one
    # found once, each with the interface it answered on; --interface limits.
    "$L" up 2 >/dev/null && "$L" bench 2 >/dev/null || exit 1
    module m1 Ma 01:01; module m2 Mb 01:02; module b1 Ba 02:01; module b2 Bb 02:02
    sim span --module "name=Span,app=S,mac=02:00:00:00:08:01,device=02:00:00:00:08:00,from=10.77.8.1" \
             --module "name=Span,app=S,mac=02:00:00:00:08:02,device=02:00:00:00:08:00,from=10.78.8.1"
    wait_ready m1 m2 b1 b2 span
    find_in all --sort address --seconds 0.3
    expect_lines "$WORK/all.out" "Ma DHCP'd at 10.77.1.1 running :M" "Mb DHCP'd at 10.77.1.2 running :M" \
      "Span running :S" "  Ethernet DHCP'd at 10.77.8.1" "  Ethernet DHCP'd at 10.78.8.1" \
      "Ba DHCP'd at 10.78.1.1 running :B" "Bb DHCP'd at 10.78.1.2 running :B"
    find_in json --json --sort name --expect 6 --seconds 30
    for m in "Ba 10.78.1.1 eth1" "Bb 10.78.1.2 eth1" "Ma 10.77.1.1 eth0" "Mb 10.77.1.2 eth0"; do
      set -- $m
      grep -q "\"address\": \"$2\", .*\"name\": \"$1\", \"app\": \"${1:0:1}\", \"interface\": \"$3\", \"addresses\": \[\"$2\"\]" \
        "$WORK/json.out" || { echo "FAIL: $1 in JSON"; fail=1; }
    done
    grep -q '"addresses": \["10.77.8.1", "10.78.8.1"\], "children": \[{.*"address": "10.77.8.1", .*"interface": "eth0", .*"address": "10.78.8.1", .*"interface": "eth1"' \
      "$WORK/json.out" || { echo "FAIL: Span in JSON"; fail=1; }
    find_in eth1 --interface eth1 --sort address --seconds 0.3
    expect_lines "$WORK/eth1.out" "Ba DHCP'd at 10.78.1.1 running :B" "Bb DHCP'd at 10.78.1.2 running :B" \
      "Span DHCP'd at 10.78.8.1 running :S"
    find_in eth9 --interface eth0 --interface eth9
    expect_status eth9 2
    grep -qFx "tideload-cli find: no interface 'eth9' that is up and can broadcast (there are eth0, eth1)" "$WORK/eth9.err" ||
      { echo "FAIL: word of eth9"; fail=1; }
    ;;
  routed)
    # Modules behind a router: the limited broadcast stays on prog's network,
    # --to reaches them by a subnet broadcast or one by one.
    "$L" up 1 >/dev/null && "$L" routed 2 >/dev/null || exit 1
    module m1 Ma 01:01; module r1 Ra 03:01; module r2 Rb 03:02
    wait_ready m1 r1 r2
    find_in local --seconds 0.3
    expect_lines "$WORK/local.out" "Ma DHCP'd at 10.77.1.1 running :M"
    find_in subnet --to 10.79.255.255 --sort address --expect 2 --seconds 30
    expect_lines "$WORK/subnet.out" "Ra DHCP'd at 10.79.1.1 running :R" "Rb DHCP'd at 10.79.1.2 running :R"
    find_in one --to 10.79.1.2 --json --seconds 0.3
    grep -c '"label"' "$WORK/one.out" | grep -qx 1 && grep -q '"address": "10.79.1.2", .*"interface": "eth0"' "$WORK/one.out" ||
      { echo "FAIL: one by unicast"; fail=1; }
    find_in both --to 10.79.255.255 --broadcast --sort name --expect 3 --seconds 30
    expect_lines "$WORK/both.out" "Ma DHCP'd at 10.77.1.1 running :M" "Ra DHCP'd at 10.79.1.1 running :R" \
      "Rb DHCP'd at 10.79.1.2 running :R"
    for bad in 10.79.1 10.79.1.256 0.0.0.0 rt ""; do
      "$L" exec prog "$CLI" find --to "$bad" >/dev/null 2>"$WORK/bad.err"
      [ $? = 2 ] && grep -qF -- "--to: bad value '$bad'" "$WORK/bad.err" || { echo "FAIL: --to '$bad'"; fail=1; }
    done
    ;;
  sort)
    # Names in another order than addresses, a group whose interfaces answer
    # in any order: the same output every time.
    "$L" up 3 >/dev/null || exit 1
    module m1 Charlie 01:01 --spread 300 --seed 3; module m2 Alpha 01:02 --spread 300 --seed 4
    module m3 Bravo 01:03 --spread 300 --seed 5
    dual_device --spread 300 --seed 6
    wait_ready m1 m2 m3 dual
    group=("Duo running :Dual" "  Ethernet at 10.77.9.1" "  WiFi DHCP'd at 10.77.9.2")
    find_in address --sort address --expect 5 --seconds 30
    expect_lines "$WORK/address.out" "Charlie DHCP'd at 10.77.1.1 running :C" "Alpha DHCP'd at 10.77.1.2 running :A" \
      "Bravo DHCP'd at 10.77.1.3 running :B" "${group[@]}"
    find_in name --sort name --expect 5 --seconds 30
    expect_lines "$WORK/name.out" "Alpha DHCP'd at 10.77.1.2 running :A" "Bravo DHCP'd at 10.77.1.3 running :B" \
      "Charlie DHCP'd at 10.77.1.1 running :C" "${group[@]}"
    find_in json --sort name --json --expect 5 --seconds 30
    grep -o '"name": "[A-Za-z]*", "app": "[A-Za-z]*"' "$WORK/json.out" >"$WORK/names"
    expect_lines "$WORK/names" '"name": "Alpha", "app": "A"' '"name": "Bravo", "app": "B"' '"name": "Charlie", "app": "C"' \
      '"name": "Duo", "app": "Dual"' '"name": "Duo", "app": "Dual"' '"name": "Duo", "app": "Dual"'
    grep -q '"addresses": \["10.77.9.1", "10.77.9.2"\], "children": \[{"label": "Ethernet at 10.77.9.1"' "$WORK/json.out" ||
      { echo "FAIL: the group's addresses and children in order"; fail=1; }
    find_in bad --sort size
    expect_status bad 2
    ;;
  expect)
    # --expect ends the search once that many distinct interfaces answered;
    # fewer: the whole search, and stderr says so.
    "$L" up 3 >/dev/null || exit 1
    module m1 A 01:01; module m2 B 01:02; module m3 C 01:03 --verbose
    dual_device
    wait_ready m1 m2 m3 dual
    start=$(date +%s%N)
    find_in five --expect 5 --seconds 60
    took=$(( ($(date +%s%N) - start) / 1000000 ))
    echo "--expect 5: $took ms (64500 planned)"
    [ "$took" -lt 30000 ] || { echo "FAIL: did not end early"; fail=1; }
    expect_status five 0
    expect_count "$WORK/five.out" 6
    # 0: at once, but only once the request went out.
    before=$(grep -c '^search from' "$WORK/sim.m3.log")
    find_in none --expect 0 --seconds 60
    expect_status none 0
    for i in $(seq 600); do [ "$(grep -c '^search from' "$WORK/sim.m3.log")" -gt "$before" ] && break; sleep 0.05; done
    [ "$(grep -c '^search from' "$WORK/sim.m3.log")" -gt "$before" ] || { echo "FAIL: no request went out"; fail=1; }
    find_in six --expect 6 --seconds 0
    expect_status six 0
    expect_count "$WORK/six.out" 6
    grep -qFx "tideload-cli find: 5 of 6 expected interfaces answered" "$WORK/six.err" || { echo "FAIL: word of the missing one"; fail=1; }
    for bad in -1 1e3 10001 "" " 5" 5x; do
      "$L" exec prog "$CLI" find --expect "$bad" >/dev/null 2>"$WORK/bad.err"
      [ $? = 2 ] && grep -qF -- "--expect: bad value '$bad'" "$WORK/bad.err" || { echo "FAIL: --expect '$bad'"; fail=1; }
    done
    ;;
  verify)
    # After its update and reboot each module is searched at its own address
    # until it is back: m1 comes back running its new application; m2 never
    # answered a search, so nothing tells its comeback from another's; m3
    # answers as before for 2.5 s after its reboot choice, then resets and
    # comes back running the same application; at m4's address another
    # device answers after the reboot.
    "$L" up 4 >/dev/null || exit 1
    sim m1 --module "name=Pump-1,app=Valve 2.1,mac=02:00:00:00:01:01" \
      --reboot-file "$WORK/m1.rebooted" --reboot-seconds 1 --app-after "Valve 2.2"
    sim m3 --module "name=Pump-3,app=Valve 2.1,mac=02:00:00:00:01:03" \
      --reboot-file "$WORK/m3.rebooted" --reboot-delay 2.5 --reboot-seconds 1 --app-after "Valve 2.1"
    sim m4 --module "name=Pump-4,app=Valve 2.1,mac=02:00:00:00:01:04" \
      --reboot-file "$WORK/m4.rebooted" --reboot-seconds 1 --app-after "Valve 2.2" \
      --mac-after 02:00:00:00:07:07 --name-after Other
    for i in 1 2 3 4; do
      "$L" exec "m$i" "$SIM" --listen "10.77.1.$i" --reboot-file "$WORK/m$i.rebooted" \
        --ready-file "$WORK/uready.m$i" 2>"$WORK/usim.m$i.log" &
    done
    wait_ready m1 m3 m4
    for h in m1 m2 m3 m4; do for i in $(seq 600); do [ -e "$WORK/uready.$h" ] && break; sleep 0.05; done; done
    "$L" exec prog "$CLI" update --json --reboot --verify 6 10.77.1.1 10.77.1.2 10.77.1.3 10.77.1.4 \
      "$SRC/examples/demo_APP.s19" >"$WORK/out" 2>"$WORK/err"
    status=$?
    cat "$WORK/out" "$WORK/err"
    [ "$status" = 1 ] || { echo "FAIL: status $status, expected 1 (m2 failed)"; fail=1; }
    identity='"macBefore": "02:00:00:00:01:0N", "macAfter": "02:00:00:00:01:0N", "nameBefore": "Pump-N", "nameAfter": "Pump-N"'
    grep -q '"address": "10.77.1.1".*"result": "ok".*"verify": {"cameBack": true, "seconds": [0-9.]*, "appBefore": "Valve 2.1", "appAfter": "Valve 2.2", '"${identity//N/1}"'}' "$WORK/out" ||
      { echo "FAIL: m1 did not come back with its new application"; fail=1; }
    grep -q '"address": "10.77.1.2".*"result": "failed".*"verify": {"cameBack": false, "seconds": null, "appBefore": null, "appAfter": null, "macBefore": null, "macAfter": null, "nameBefore": null, "nameAfter": null}' "$WORK/out" ||
      { echo "FAIL: m2 is not failed"; fail=1; }
    expect_line "$WORK/err" "10.77.1.2: does not answer a search: its comeback cannot be verified"
    expect_line "$WORK/err" "10.77.1.2: not verified: it did not answer a search before its update (before: not found)"
    back3=$(grep '"address": "10.77.1.3".*"result": "ok"' "$WORK/out" | grep -o '"cameBack": true, "seconds": [0-9.]*' | grep -o '[0-9.]*$')
    awk -v s="${back3:-0}" 'BEGIN { exit !(s >= 2.5) }' ||
      { echo "FAIL: m3 counted back at '${back3}' s, while it still answered as before"; fail=1; }
    grep -q '"address": "10.77.1.3".*"appAfter": "Valve 2.1", '"${identity//N/3}"'}' "$WORK/out" || { echo "FAIL: m3's identity"; fail=1; }
    grep -q '"address": "10.77.1.4".*"result": "timed-out".*"verify": {"cameBack": false, "seconds": null, "appBefore": "Valve 2.1", "appAfter": null, "macBefore": "02:00:00:00:01:04", "macAfter": null' "$WORK/out" ||
      { echo "FAIL: m4 is not timed out"; fail=1; }
    expect_line "$WORK/err" "10.77.1.4: not back within 6 s of its reboot; a device with another MAC (02:00:00:00:07:07, Other) answers there (before: Valve 2.1)"
    # Without --reboot there is nothing to verify.
    "$L" exec prog "$CLI" update --verify 10.77.1.1 "$SRC/examples/demo_APP.s19" 2>"$WORK/err2"
    [ $? = 2 ] || { echo "FAIL: --verify without --reboot"; fail=1; }
    ;;
  rollout)
    # A rollout that asks each module first: m1 runs the expected application
    # already (skipped), m2 comes back running it (ok), m3 comes back running
    # another (wrong-app), and at m4, a device of the file, another device
    # answers (different-device: nothing is sent to it). The audit log has a
    # line for each; a rerun with --resume leaves the done ones alone.
    "$L" up 4 >/dev/null || exit 1
    sim m1 --module "name=Pump-1,app=Valve 2.2,mac=02:00:00:00:01:01"
    sim m2 --module "name=Pump-2,app=Valve 2.1,mac=02:00:00:00:01:02" \
      --reboot-file "$WORK/m2.rebooted" --reboot-seconds 1 --app-after "Valve 2.2"
    sim m3 --module "name=Pump-3,app=Valve 2.1,mac=02:00:00:00:01:03" \
      --reboot-file "$WORK/m3.rebooted" --reboot-seconds 1 --app-after "Valve 2.0"
    sim m4 --module "name=Other,app=Valve 2.1,mac=02:00:00:00:07:04"
    for i in 2 3; do
      "$L" exec "m$i" "$SIM" --listen "10.77.1.$i" --reboot-file "$WORK/m$i.rebooted" \
        --ready-file "$WORK/uready.m$i" 2>"$WORK/usim.m$i.log" &
    done
    "$L" exec m4 "$SIM" --listen 10.77.1.4 --ready-file "$WORK/uready.m4" 2>"$WORK/usim.m4.log" &
    untouched=$!
    wait_ready m1 m2 m3 m4
    for h in m2 m3 m4; do for i in $(seq 600); do [ -e "$WORK/uready.$h" ] && break; sleep 0.05; done; done
    items=""
    for i in 1 2 3 4; do
      items+="${items:+, }{\"address\": \"10.77.1.$i\", \"consistent\": true, \"interfaceMac\": \"02:00:00:00:01:0$i\", \"children\": []}"
    done
    echo "[$items]" >"$WORK/found.json"
    "$L" exec prog "$CLI" update --json --reboot --verify 6 --expect-app "Valve 2.2" --from "$WORK/found.json" \
      --log "$WORK/audit.log" "$SRC/examples/demo_APP.s19" >"$WORK/out" 2>"$WORK/err"
    status=$?
    cat "$WORK/out" "$WORK/err"
    [ "$status" = 9 ] || { echo "FAIL: status $status, expected 9 (wrong-app)"; fail=1; }
    for want in '10.77.1.1.*"result": "skipped"' '10.77.1.2.*"result": "ok"' '10.77.1.3.*"result": "wrong-app"' \
                '10.77.1.4.*"result": "different-device"'; do
      grep -q "\"address\": \"$want" "$WORK/out" || { echo "FAIL: no $want"; fail=1; }
    done
    expect_line "$WORK/err" "10.77.1.1: already running Valve 2.2"
    expect_line "$WORK/err" "10.77.1.4: a different device answers at 10.77.1.4 (02:00:00:00:07:04, Other)"
    grep -q "^10.77.1.3: back after [0-9.]* s, running Valve 2.0, not Valve 2.2 (before: Valve 2.1)$" "$WORK/err" ||
      { echo "FAIL: m3's word"; fail=1; }
    kill "$untouched" 2>/dev/null; wait "$untouched" 2>/dev/null
    [ -s "$WORK/usim.m4.log" ] && { echo "FAIL: the device at m4 was contacted"; cat "$WORK/usim.m4.log"; fail=1; }
    expect_count "$WORK/audit.log" 4
    grep -q '"address": "10.77.1.2", "mac": "02:00:00:00:01:02",.*"result": "ok", "attempts": 1, "appBefore": "Valve 2.1", "appAfter": "Valve 2.2"}' "$WORK/audit.log" ||
      { echo "FAIL: m2's log line"; cat "$WORK/audit.log"; fail=1; }
    # The rerun: the two done ones are left alone without a search.
    "$L" exec prog "$CLI" update --resume "$WORK/out" 10.77.1.1 10.77.1.2 "$SRC/examples/demo_APP.s19" >"$WORK/out2" 2>"$WORK/err2"
    status=$?
    cat "$WORK/out2" "$WORK/err2"
    [ "$status" = 0 ] || { echo "FAIL: the rerun ended with $status"; fail=1; }
    expect_line "$WORK/out2" "wave 1 of 1, 2 modules: 2 skipped"
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
