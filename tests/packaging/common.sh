# Helpers of the packaging tests: a scratch directory, a free X display and
# clean-up of everything a test started, by process id.
set -euo pipefail
BUILD_DIR="${TARVIK_BINARY_DIR:?TARVIK_BINARY_DIR names the build tree}"
SCRATCH="$(mktemp -d /tmp/tarvik-pkg.XXXXXX)"
chmod 755 "$SCRATCH"
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null 2>&1 || fail "$1 is not installed (scripts/test installs it)"; }

# Starts Xvfb on a display no one uses; sets DISPLAY.
start_xvfb() {
  need Xvfb
  local n
  for _ in $(seq 1 50); do
    n=$((200 + RANDOM % 700))
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 1 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "Xvfb on $DISPLAY did not start"
}

# wait_for CMD...: retries CMD for up to 20 s.
wait_for() {
  for _ in $(seq 1 200); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
