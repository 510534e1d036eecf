# shellcheck shell=bash
# Sourced by scripts that need the platform simulator (run from the repository root).
#
# start_simulator OUTPUT [simulator options...]
#   Starts tools/simulator in the background (its output to the file OUTPUT, or to this
#   script's own output for "-"), sets sim_pid, and waits until the simulator answering on
#   127.0.0.1:18080 is this one (/_sim/pid). The simulator first waits for the ports lock that
#   test fixtures also take, so this can take a while; a simulator of someone else's that
#   answers meanwhile is not mistaken for ours.
# stop_simulator
#   Ends it (safe to call when none was started).
sim_pid=""

start_simulator() {
  local output="$1"
  shift
  if [ "$output" = "-" ]; then
    python3 tools/simulator/simulator.py "$@" &
  else
    python3 tools/simulator/simulator.py "$@" >"$output" 2>&1 &
  fi
  sim_pid=$!
  python3 - "$sim_pid" <<'PY'
import os, sys, time, urllib.request
pid = sys.argv[1]
opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
deadline = time.monotonic() + 150  # the ports lock waits up to 120 s
while time.monotonic() < deadline:
    try:
        os.kill(int(pid), 0)
    except OSError:
        sys.exit("the simulator ended at start-up")
    try:
        answer = opener.open("http://127.0.0.1:18080/_sim/pid", timeout=2).read().decode()
    except OSError:
        answer = ""
    if answer.strip() == pid:
        sys.exit(0)
    time.sleep(0.1)
sys.exit("the simulator did not answer as itself within 150 s")
PY
}

stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
