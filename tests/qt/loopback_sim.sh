# Sourced by the desktop checks. start_sim ARGS... starts tideload-sim on a
# random 127.x.y.z address (port 20034) and waits until it listens; it sets
# ADDR and SIM_PID, and fails when no sim would start. Needs BUILD and WORK;
# the sim's output goes to $WORK/sim.out and $WORK/sim.err.
start_sim() {
  for _ in 1 2 3 4 5 6 7 8; do
    ADDR="127.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))"
    rm -f "$WORK/ready"
    "$BUILD/tideload-sim" --listen "$ADDR" --ready-file "$WORK/ready" "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
    SIM_PID=$!
    for _ in $(seq 500); do
      [ -e "$WORK/ready" ] && return 0
      kill -0 "$SIM_PID" 2>/dev/null || break
      sleep 0.01
    done
  done
  return 1
}
