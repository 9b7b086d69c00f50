#!/usr/bin/env bash
# tideload-cli.exe end to end under Wine, with the Linux tideload-sim as the
# modules. Builds the Windows programs and, when there is none, a Wine prefix;
# then runs Wine and its wineserver inside the program host of a test LAN of
# its own (scripts/testlan.sh: prog on two networks), where a broadcast
# reaches nobody but the test's modules:
#   - every ending of an update and its exit status, as the end-to-end
#     table of tests/e2e (result, messages, the module's own verdict);
#   - inspect --json as the Linux program gives it, for the sample file and
#     for a file whose path has spaces and characters outside the ANSI code
#     page (taken from the UTF-16 command line, opened by the wide calls);
#   - find out of both interfaces: every module once, with the interface its
#     reply came in on, as the Linux program finds them;
#   - a batch with a refusing module among good ones, the password from a
#     pipe (--password-file -) and the audit log (--log);
#   - Ctrl-C during an update: status 130, the connection closed;
#   - a rollout whose canary fails (--waves 1,100% --max-failures 0).
# Needs the Linux build (scripts/setup.sh) for tideload-sim and tideload-cli.
# Skipped, with a message, only when Wine cannot be installed or no network
# namespace can be made here.
#   test-win32-cli.sh [BUILD_DIR]      the Linux build folder (build)
set -uo pipefail
# shellcheck source=scripts/win32-test-env.sh
source "$(dirname "$0")/win32-test-env.sh" test-win32-cli "${1:-}"
CLI="$WIN32_BUILD/tideload-cli.exe"
export TESTLAN=${TESTLAN:-tlt$$}
export LANG=C.UTF-8  # Unix file names and arguments are UTF-8 to Wine

if [ -z "${TEST_WIN32_CLI_INSIDE:-}" ]; then
  started=$SECONDS
  win32_prepare existing tideload-sim tideload-cli
  say "build and prefix in $((SECONDS - started)) s"
  scripts/testlan.sh check >/dev/null 2>&1 || { say "SKIPPED: no network namespace can be made here (needs root)"; exit 0; }
  # A wineserver of this prefix elsewhere would make the sockets there.
  wineserver -k 2>/dev/null
  trap 'scripts/testlan.sh down >/dev/null' EXIT
  scripts/testlan.sh up 2 >/dev/null && scripts/testlan.sh bench 2 >/dev/null || { say "FAILED: the test LAN"; exit 1; }
  # Three minutes at most, whatever hangs.
  TEST_WIN32_CLI_INSIDE=1 timeout -k 30 180 ip netns exec "$TESTLAN-prog" bash "$0" "$@"
  exit $?
fi

# ---------------------------------------------------------------- inside prog
started=$SECONDS
WORK=$(mktemp -d)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  wineserver -k 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'say "FAILED: out of time"; exit 1' TERM
failed=0
fail() { say "FAILED: $*"; failed=1; }
# expect WHAT WANT GOT
expect() { [ "$3" = "$2" ] || fail "$1: '$3', not '$2'"; }

cli() { wine "$CLI" "$@"; }
# Windows text: the program's lines end in CR LF.
unix() { tr -d '\r' <"$1"; }
# The message lines of an update's stderr, without the progress, joined by ";".
boxes() { unix "$1" | grep -v '^Percent Complete' | paste -sd ';'; }
field() { jq -r ".$2 | if type == \"array\" then join(\";\") else tostring end" <"$1"; }
# wait_for FILE TEXT: until the file has the text (60 s at most).
wait_for() {
  for _ in $(seq 1200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}
# sim NAME ADDRESS ARGS...: tideload-sim listening there, its pid in
# SIM_<NAME>, its stderr in $WORK/NAME.sim.
sim() {
  local name=$1 address=$2
  shift 2
  "$BUILD/tideload-sim" --listen "$address" --ready-file "$WORK/$name.ready" --timeout 60 "$@" \
    >/dev/null 2>"$WORK/$name.sim" &
  printf -v "SIM_$name" %s $!
  PIDS+=($!)
  wait_for "$WORK/$name.ready" . || fail "tideload-sim $* did not start: $(cat "$WORK/$name.sim")"
}
# sim_status NAME: waits for the module's end, its status in STATUS (in this
# shell: a subshell cannot wait for a module still running).
sim_status() {
  local pid="SIM_$1"
  wait "${!pid}"
  STATUS=$?
}

version=$(cli --version | tr -d '\r')  # starts the wineserver here
expect "--version" "Tideload Version 1.0" "$version"
say "Wine up in $((SECONDS - started)) s"

python3 scripts/make_demo_app.py --size 5000 "$WORK/small_APP.s19" >/dev/null
python3 scripts/make_demo_app.py --size $((4 << 20)) --per-record 250 "$WORK/big_APP.s19" >/dev/null

# ---------------------------------------------------------------- every ending, side by side
# The time-outs take 30 s: the cases run all at once, beside the checks below.
# A module asking again and again reads nothing: it offers a module's small
# window, or Wine's one send per answer would take minutes to fill the
# host's megabytes of buffers. Asked for the one-byte reboot choice, even
# that takes Wine longer than the time-out: the Linux tests have that case.
# sim arguments (";" between them) | file | exit status | result | the
# messages before "Update Failed"
TABLE=$(cat <<'CASES'
--wrong-platform|small|6|refused|Error: Wrong platform
--error-at;100|small|6|refused|Error: Bad image
--error-at;102;--error-line;222 No room|small|6|refused|Error: No room
--error-at;103|small|6|refused|Error: Bad image
--error-at;301;--error-line;300|small|6|refused|Error:
--error-at;105|small|6|refused|Error: Bad image
--error-at;106;--error-line;299 Flash failed|small|6|refused|Error: Flash failed
|small|4|connection-failed|Error: Connect error
--close-mid-image|small|4|connection-failed|Error: Connection closed by module
--reset-mid-image|big|4|connection-failed|Error: Connection closed by module
--silent-at;103|small|5|timed-out|Error: Timed out
--flood-at;102|small|5|timed-out|Error: Timed out
--repeat-at;102;--window;4096|small|4|connection-failed|Error: Module stopped reading
--late-error;--error-line;250 Late error|small|6|refused|Error: Late error
|missing|3|load-failed|Failed to open file
CASES
)
step=$SECONDS
n=0
while IFS='|' read -r sim_args file _; do
  n=$((n + 1))
  address=127.0.2.$n
  IFS=';' read -ra args <<<"$sim_args"
  [ -n "$sim_args" ] && sim "t$n" "$address" "${args[@]}"
  cli update --json "$address" "$WORK/${file}_APP.s19" >"$WORK/t$n.out" 2>"$WORK/t$n.err" &
  printf -v "CLI_t$n" %s $!
done <<<"$TABLE"

# ---------------------------------------------------------------- inspect
say "inspect --json: as the Linux program, the sample file and a path of spaces and Ω"
SPACED="$WORK/a folder with späces/Ωmega ünï_APP.s19"
mkdir -p "$(dirname "$SPACED")"
cp "$DEMO" "$SPACED"
for file in "$DEMO" "$SPACED"; do
  cli inspect --json "$file" >"$WORK/inspect.out" 2>"$WORK/inspect.err"
  expect "inspect --json $file" "$("$BUILD/tideload-cli" inspect --json "$file")" "$(unix "$WORK/inspect.out")"
done
cli inspect --output "$(dirname "$SPACED")/Ωut.bin" "$SPACED" >/dev/null
"$BUILD/tideload-cli" inspect --output "$WORK/expected.bin" "$DEMO" >/dev/null
cmp -s "$WORK/expected.bin" "$(dirname "$SPACED")/Ωut.bin" || fail "inspect --output to a path with Ω"
# The path as the program saw it: JSON gives it by code point.
cli update --json --dry-run 127.0.9.9 "$SPACED" >"$WORK/path.out" 2>/dev/null
expect "the path in update's JSON" "$WORK/a folder with späces/Ωmega ünï_APP.s19" "$(field "$WORK/path.out" file)"

# ---------------------------------------------------------------- find
say "find out of eth0 and eth1: every module once, and where its reply came in"
for host in m1 m2 b1 b2; do
  case $host in
    m*) module="name=Pump-${host#m},app=Valve 2.1,mac=02:00:00:00:01:0${host#m}" ;;
    b*) module="name=Bench-${host#b},app=Test 0.9,mac=02:00:00:00:02:0${host#b}" ;;
  esac
  ip netns exec "$TESTLAN-$host" "$BUILD/tideload-sim" discover --seconds 90 --ready-file "$WORK/$host.ready" \
    --module "$module" 2>/dev/null &
  PIDS+=($!)
done
ip netns exec "$TESTLAN-span" "$BUILD/tideload-sim" discover --seconds 90 --ready-file "$WORK/span.ready" \
  --module "name=Gateway,app=Bridge 1.0,mac=02:00:00:00:08:01,device=02:00:00:00:08:00,from=10.77.8.1" \
  --module "name=Gateway,app=Bridge 1.0,mac=02:00:00:00:08:02,device=02:00:00:00:08:00,kind=1,from=10.78.8.1" \
  2>/dev/null &
PIDS+=($!)
for host in m1 m2 b1 b2 span; do wait_for "$WORK/$host.ready" . || fail "the module on $host did not start"; done
cli find --json --sort address --expect 6 --seconds 5 >"$WORK/find.out" 2>"$WORK/find.err"
expect "find's status" 0 $?
"$BUILD/tideload-cli" find --json --sort address --expect 6 --seconds 5 >"$WORK/find.linux" 2>/dev/null
expect "find --json against the Linux program's" "$(cat "$WORK/find.linux")" "$(unix "$WORK/find.out")"
expect "the interfaces found, where each came in" \
  "Pump-1 10.77.1.1 eth0;Pump-2 10.77.1.2 eth0;Gateway 10.77.8.1 eth0;Bench-1 10.78.1.1 eth1;Bench-2 10.78.1.2 eth1" \
  "$(jq -r '.[] | "\(.name) \(.address) \(.interface)"' "$WORK/find.out" | paste -sd ';')"
expect "the Gateway's two interfaces" "10.77.8.1 10.78.8.1" \
  "$(jq -r '.[] | select(.name == "Gateway") | .children[] | .address' "$WORK/find.out" | paste -sd ' ')"
cli find --interface eth1 --sort name --seconds 0 --expect 3 >"$WORK/find1.out" 2>&1
expect "find --interface eth1" \
  "Bench-1 DHCP'd at 10.78.1.1 running :Test 0.9;Bench-2 DHCP'd at 10.78.1.2 running :Test 0.9;Gateway DHCP'd at 10.78.8.1 running :Bridge 1.0" \
  "$(unix "$WORK/find1.out" | paste -sd ';')"
cli find --interface wlan0 >/dev/null 2>"$WORK/find2.err"
expect "find --interface wlan0's status" 2 $?
expect "find --interface wlan0" \
  "tideload-cli find: no interface 'wlan0' that is up and can broadcast (there are eth0, eth1)" \
  "$(unix "$WORK/find2.err" | head -1)"

# ---------------------------------------------------------------- a batch
say "a batch: a refusing module among good ones, the password from a pipe, the log"
sim b1 127.0.3.1 --user admin --password 's3cr3t'
sim b2 127.0.3.2 --user admin --password 's3cr3t' --error-at 103
sim b3 127.0.3.3 --user admin --password 's3cr3t'
printf 's3cr3t\r\n' | cli update --json --user admin --password-file - --log "$WORK/audit.log" \
  127.0.3.1 127.0.3.2 127.0.3.3 "$DEMO" >"$WORK/batch.out" 2>"$WORK/batch.err"
expect "the batch's status (the first failure's)" 6 $?
expect "the batch's results" "127.0.3.1 ok;127.0.3.2 refused;127.0.3.3 ok" \
  "$(jq -r '"\(.address) \(.result)"' "$WORK/batch.out" | sort | paste -sd ';')"
grep -q '^127.0.3.2: Error: Bad image$' <(unix "$WORK/batch.err") || fail "the refusal's line: $(unix "$WORK/batch.err")"
for b in b1 b2 b3; do
  sim_status "$b"
  expect "the module of $b" 0 "$STATUS"
done
expect "the log's lines" "127.0.3.1 ok;127.0.3.2 refused;127.0.3.3 ok" \
  "$(jq -r '"\(.address) \(.result)"' "$WORK/audit.log" | sort | paste -sd ';')"
expect "the log's fields" "time operator host address mac file sha256 result attempts appBefore appAfter" \
  "$(head -1 "$WORK/audit.log" | jq -r 'keys_unsorted | join(" ")')"

# ---------------------------------------------------------------- Ctrl-C
say "Ctrl-C during an update: status 130, the connection closed"
sim c 127.0.4.1 --pace 40
# Wine itself, not a subshell: a background subshell ignores SIGINT.
wine "$CLI" update 127.0.4.1 "$DEMO" >/dev/null 2>"$WORK/ctrlc.err" &
program=$!
if wait_for "$WORK/ctrlc.err" "Percent Complete 10%"; then
  kill -INT "$program"
  interrupted=$SECONDS
  wait "$program"
  expect "the status after Ctrl-C" 130 $?
  expect "the last line after Ctrl-C" "tideload-cli: update interrupted" "$(unix "$WORK/ctrlc.err" | tail -1)"
  grep -q "Update Failed" "$WORK/ctrlc.err" && fail "Ctrl-C said Update Failed"
  # The module saw the connection close: it ends well before its 60 s.
  sim_status c
  expect "the module after Ctrl-C" 1 "$STATUS"
  [ $((SECONDS - interrupted)) -lt 30 ] || fail "the module waited on after Ctrl-C: $(cat "$WORK/c.sim")"
else
  fail "no progress before Ctrl-C: $(unix "$WORK/ctrlc.err")"
fi

# ---------------------------------------------------------------- a rollout
say "a rollout: the canary fails, --max-failures 0 stops the rest"
sim r1 127.0.5.1 --error-at 103
sim r2 127.0.5.2
sim r3 127.0.5.3
cli update --json --waves 1,100% --max-failures 0 127.0.5.1 127.0.5.2 127.0.5.3 "$DEMO" \
  >"$WORK/rollout.out" 2>"$WORK/rollout.err"
expect "the rollout's status" 6 $?
expect "the rollout's results" "127.0.5.1 refused 1;127.0.5.2 stopped 2;127.0.5.3 stopped 2" \
  "$(jq -r '"\(.address) \(.result) \(.wave)"' "$WORK/rollout.out" | sort | paste -sd ';')"
grep -q '^tideload-cli: more than 0 modules failed: no new update starts$' <(unix "$WORK/rollout.err") ||
  fail "the rollout's word: $(unix "$WORK/rollout.err")"
sim_status r1
expect "the canary's module" 0 "$STATUS"
# The others were never contacted.
for r in r2 r3; do
  pid="SIM_$r"
  kill "${!pid}" 2>/dev/null
  expect "what the module of $r said" "" "$(cat "$WORK/$r.sim")"
done

# ---------------------------------------------------------------- the table's endings
say "every ending's exit status (the time-outs take 30 s)"
n=0
while IFS='|' read -r sim_args file status result messages; do
  n=$((n + 1))
  pid="CLI_t$n"
  wait "${!pid}"
  got=$?
  what="update against '${sim_args:-nobody}' ($file)"
  expect "$what: status" "$status" "$got"
  expect "$what: result" "$result" "$(field "$WORK/t$n.out" result)"
  expect "$what: messages" "$messages;Update Failed" "$(field "$WORK/t$n.out" messages)"
  expect "$what: stderr" "$messages;Update Failed" "$(boxes "$WORK/t$n.err")"
  if [ -n "$sim_args" ]; then
    sim_status "t$n"
    expect "$what: the module's verdict" 0 "$STATUS"
  fi
done <<<"$TABLE"
say "  in $((SECONDS - step)) s"

say "all in $((SECONDS - started)) s in the namespace"
[ "$failed" -eq 0 ] && say "ok"
exit "$failed"
