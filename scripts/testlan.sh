#!/bin/bash
# A private LAN of network namespaces for discovery tests and demos.
#
#   testlan.sh check                 exit 0 when namespaces can be made, else 77 and why
#   testlan.sh up N                  bridge + program host + N module hosts + a dual host
#   testlan.sh bench N               after up: a second bridge, prog on it too, N hosts
#   testlan.sh routed N              after up: a router to a third bridge with N hosts
#   testlan.sh exec NAME CMD...      run CMD in host NAME (prog, m1..mN, dual, br,
#                                    b1..bN, span, rt, r1..rN)
#   testlan.sh addr NAME             the host's IPv4 address(es), one a line
#   testlan.sh addrs NAME COUNT      give host NAME COUNT more addresses; prints them
#   testlan.sh list                  the namespaces of this LAN
#   testlan.sh down                  stop what runs in them and remove them
#   testlan.sh clean-stale           remove LANs of test runs whose process is gone
#
# TESTLAN names the LAN (default "tlan"); namespaces are "$TESTLAN-<host>", so
# runs with different names never meet. A name "tlt<pid>" belongs to process
# <pid> and is removed by clean-stale once that process is gone.
#
# Layout: "br" holds the bridge and the bridge ends of all veth pairs, so
# nothing is created in the caller's namespace. Hosts have eth0 on the
# bridge, addresses in 10.77.0.0/16 and a default route over eth0, so a
# broadcast to 255.255.255.255 stays on the bridge:
#   prog  10.77.0.1        the program under test
#   mI    10.77.1.I        module hosts (I = 1..N, N <= 250)
#   dual  10.77.9.1 on eth0 and 10.77.9.2 on eth1
# Extra addresses from "addrs" come from 10.77.(100+K).J.
# "bench" adds bridge br1, 10.78.0.0/16, with prog's eth1 10.78.0.1 and
# hosts bI at 10.78.1.I: a program host on two networks; and span, a host on
# both: 10.77.8.1 on eth0 (br0), 10.78.8.1 on eth1 (br1).
# "routed" adds bridge br2, 10.79.0.0/16, behind the router rt (10.77.0.254
# on br0, 10.79.0.254 on br2, forwarding, also subnet broadcasts), with hosts
# rI at 10.79.1.I; prog reaches 10.79.0.0/16 through rt, and only there.
set -u
P=${TESTLAN:-tlan}
NS() { echo "$P-$1"; }

die() { echo "testlan: $*" >&2; exit 1; }

check() {
  if [ "$(id -u)" != 0 ]; then echo "testlan: needs root to make network namespaces" >&2; return 77; fi
  command -v ip >/dev/null || { echo "testlan: needs iproute2 (ip)" >&2; return 77; }
  local probe="$P-probe$$"
  if ! ip netns add "$probe" 2>/dev/null; then echo "testlan: cannot make network namespaces here" >&2; return 77; fi
  if ! ip -n "$probe" link add probe0 type veth peer name probe1 2>/dev/null; then
    ip netns del "$probe"; echo "testlan: veth pairs do not work here" >&2; return 77
  fi
  ip netns del "$probe"
  return 0
}

ours() { ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$P-" || true; }

down_prefix() {
  local prefix=$1 ns pid
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$prefix-" || true); do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null; done
  done
  sleep 0.2
  for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -E "^$prefix-" || true); do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
  done
}

clean_stale() {
  local prefix pid
  for prefix in $(ip netns list 2>/dev/null | awk '{print $1}' | grep -oE '^tlt[0-9]+' | sort -u); do
    pid=${prefix#tlt}
    if ! kill -0 "$pid" 2>/dev/null; then down_prefix "$prefix"; fi
  done
}

plug() {  # plug HOST IFNAME ADDRESS... [BRIDGE]: a veth from the bridge (br0) into HOST
  local host=$1 ifname=$2; shift 2
  local bridge=br0
  case "${!#}" in br*) bridge=${!#}; set -- "${@:1:$(($# - 1))}" ;; esac
  local end="v$(( $(ip -n "$(NS br)" -o link show type veth | wc -l) + 1 ))"
  ip -n "$(NS br)" link add "$end" type veth peer name "$ifname" netns "$(NS "$host")" || die "veth for $host"
  ip -n "$(NS br)" link set "$end" master "$bridge" up
  local a
  for a in "$@"; do ip -n "$(NS "$host")" addr add "$a/16" dev "$ifname"; done
  ip -n "$(NS "$host")" link set "$ifname" up
}

host() {  # host NAME ADDRESS [BRIDGE [GATEWAY]]
  ip netns add "$(NS "$1")" || die "cannot add namespace $(NS "$1")"
  ip -n "$(NS "$1")" link set lo up
  # Replies may come in on another interface than the one their answer
  # leaves by: do not drop them.
  ip netns exec "$(NS "$1")" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0 2>/dev/null
  plug "$1" eth0 "$2" "${3:-br0}"
  if [ -n "${4:-}" ]; then
    ip -n "$(NS "$1")" route add default via "$4" dev eth0
  else
    ip -n "$(NS "$1")" route add default dev eth0
  fi
}

bridge() {  # bridge NAME: one more bridge in the bridge host
  ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$(NS br)" || die "bring the LAN up first (testlan.sh up N)"
  ip -n "$(NS br)" link show "$1" >/dev/null 2>&1 && die "$1 is there already"
  ip -n "$(NS br)" link add "$1" type bridge
  ip -n "$(NS br)" link set "$1" type bridge forward_delay 0 2>/dev/null
  ip -n "$(NS br)" link set "$1" up
}

hosts() {  # hosts N PREFIX SUBNET BRIDGE [GATEWAY]: hosts PREFIX1..PREFIXN at SUBNET.1.I
  local n=$1 i
  [ "$n" -ge 0 ] && [ "$n" -le 250 ] || die "N must be 0..250"
  for i in $(seq 1 "$n"); do host "$2$i" "$3.1.$i" "$4" "${5:-}"; done
}

bench() {  # bench N
  local n=${1:-2}
  bridge br1
  plug prog eth1 10.78.0.1 br1
  hosts "$n" b 10.78 br1
  host span 10.77.8.1
  plug span eth1 10.78.8.1 br1
  echo "testlan: $P bench: prog's eth1 on br1, b1..b$n, span"
}

routed() {  # routed N
  local n=${1:-2}
  bridge br2
  host rt 10.77.0.254
  plug rt eth1 10.79.0.254 br2
  ip netns exec "$(NS rt)" sysctl -qw net.ipv4.ip_forward=1
  # Subnet broadcasts (10.79.255.255) from br0 go on to br2.
  ip netns exec "$(NS rt)" sysctl -qw net.ipv4.conf.all.bc_forwarding=1 net.ipv4.conf.eth0.bc_forwarding=1 \
    net.ipv4.conf.eth1.bc_forwarding=1 2>/dev/null
  hosts "$n" r 10.79 br2 10.79.0.254
  ip -n "$(NS prog)" route add 10.79.0.0/16 via 10.77.0.254 dev eth0
  echo "testlan: $P routed: rt between br0 and br2, r1..r$n"
}

up() {
  local n=${1:-3}
  [ "$n" -ge 0 ] && [ "$n" -le 250 ] || die "N must be 0..250"
  check || exit $?
  clean_stale
  down_prefix "$P"
  ip netns add "$(NS br)" || die "cannot add namespace $(NS br)"
  ip -n "$(NS br)" link set lo up
  ip -n "$(NS br)" link add br0 type bridge
  ip -n "$(NS br)" link set br0 type bridge forward_delay 0 2>/dev/null
  ip -n "$(NS br)" link set br0 up
  host prog 10.77.0.1
  local i
  hosts "$n" m 10.77 br0
  host dual 10.77.9.1
  plug dual eth1 10.77.9.2
  ip netns exec "$(NS dual)" sysctl -qw net.ipv4.conf.eth1.arp_ignore=1 2>/dev/null
  echo "testlan: $P up: prog, m1..m$n, dual"
}

addrs() {  # addrs HOST COUNT
  local host=$1 count=$2 k=0 j=0 list=""
  local ns; ns=$(NS "$host")
  local batch; batch=$(mktemp)
  local base=$(( $(ip -n "$ns" -4 -o addr show dev eth0 | wc -l) ))
  local idx
  for idx in $(seq "$base" $((base + count - 1))); do
    k=$(( idx / 250 )); j=$(( idx % 250 + 1 ))
    local hi=$(( ${HOSTBYTE:-100} ))
    echo "addr add 10.77.$((hi + k)).$j/16 dev eth0" >>"$batch"
    list+="10.77.$((hi + k)).$j"$'\n'
  done
  ip -n "$ns" -batch "$batch" || { rm -f "$batch"; die "addrs for $host"; }
  rm -f "$batch"
  printf '%s' "$list"
}

cmd=${1:-}
shift || true
case "$cmd" in
  check) check; exit $? ;;
  up) up "${1:-3}" ;;
  bench) bench "${1:-2}" ;;
  routed) routed "${1:-2}" ;;
  down) down_prefix "$P"; echo "testlan: $P down" ;;
  clean-stale) clean_stale ;;
  list) ours ;;
  exec)
    [ $# -ge 2 ] || die "usage: testlan.sh exec NAME CMD..."
    name=$1; shift
    ip netns list 2>/dev/null | awk '{print $1}' | grep -qx "$(NS "$name")" ||
      die "no host '$name' in the LAN $P: bring it up first (testlan.sh up N)"
    exec ip netns exec "$(NS "$name")" "$@" ;;
  addr)
    ip -n "$(NS "$1")" -4 -o addr show scope global | awk '{print $4}' | cut -d/ -f1 ;;
  addrs) addrs "$1" "$2" ;;
  *) sed -n '2,16p' "$0" >&2; exit 2 ;;
esac
