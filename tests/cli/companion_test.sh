#!/usr/bin/env bash
# The headless companion end to end: its command line, a real Prometheus
# server scraping `tarvik-cli measure --listen` every second, a reread of the
# configuration on SIGHUP, the trend files held by another Tarvik, and the
# close on SIGTERM. Everything started here is ended by its process id.
set -euo pipefail
BUILD_DIR="${TARVIK_BINARY_DIR:?}"
CLI="$BUILD_DIR/bin/tarvik-cli"
W="$(mktemp -d /tmp/tarvik-cli.XXXXXX)"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$W"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
for t in prometheus promtool curl python3; do
  command -v "$t" >/dev/null || fail "$t is not installed (scripts/test installs it)"
done
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
expect_status() {  # expect_status CODE ARGS...
  local want=$1; shift
  set +e; "$CLI" "$@" >"$W/out" 2>"$W/err"; local got=$?; set -e
  [ "$got" -eq "$want" ] || fail "tarvik-cli $* exited $got, not $want: $(cat "$W/err")"
}

# ---- the command line ----
expect_status 0 --help;    grep -q '^Usage: tarvik-cli' "$W/out" || fail "--help shows no usage"
expect_status 0 --version; grep -q '^tarvik-cli [0-9]' "$W/out" || fail "--version shows no version"
expect_status 2;                                  # no command
expect_status 2 --bogus measure
expect_status 2 frobnicate
expect_status 2 --dir "$W" measure --listen nonsense
expect_status 2 --dir "$W" export --day 2026-02-30
expect_status 2 --dir "$W" export --day 2026-12-09 --from 12:10
expect_status 2 --dir "$W" export --day 2026-12-09 --format xml
expect_status 1 --dir "$W/none" measure
[ "$(wc -l <"$W/err")" -eq 1 ] || fail "a missing configuration should give one line: $(cat "$W/err")"
printf 'not an ini\n' >"$W/QUORBELT.INI"
expect_status 1 --dir "$W" measure

# ---- measuring, scraped by Prometheus ----
mkdir -p "$W/share"
cat >"$W/QUORBELT.INI" <<INI
[Main]
Sign=Network speed
[Objects]
Number=3
Object11=127.0.0.1
Object15=3
Object18=300
Object19=0
Object110=1024
Object111=1000
Object21=127.0.0.2
Object25=3
Object28=300
Object29=0
Object210=4096
Object211=1000
Object31=$W/share
Object35=1
Object38=300
Object39=0
Object310=65536
Object311=1000
INI
cport=$(free_port); pport=$(free_port)
"$CLI" --dir "$W" measure --listen "127.0.0.1:$cport" >"$W/cli.log" 2>&1 &
cli=$!; PIDS+=($cli)
cat >"$W/prometheus.yml" <<YML
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: tarvik
    static_configs:
      - targets: ['127.0.0.1:$cport']
        labels: {site: test}
YML
prometheus --config.file="$W/prometheus.yml" --storage.tsdb.path="$W/tsdb" \
  --web.listen-address="127.0.0.1:$pport" >"$W/prometheus.log" 2>&1 &
prom=$!; PIDS+=($prom)

query() { curl -sf --get "http://127.0.0.1:$pport/api/v1/query" --data-urlencode "query=$1"; }
series=0
for _ in $(seq 1 60); do
  series=$(query 'count(tarvik_speed_kbps > 0)' 2>/dev/null | python3 -c 'import json,sys
d=json.load(sys.stdin)["data"]["result"]; print(d[0]["value"][1] if d else 0)' 2>/dev/null || echo 0)
  [ "$series" = 4 ] && break
  sleep 1
done
[ "$series" = 4 ] || { tail -20 "$W/prometheus.log"; curl -s "http://127.0.0.1:$cport/metrics"; fail "Prometheus holds $series speed series above 0, not 4"; }
query 'tarvik_speed_kbps{direction="write"}' | grep -q "$W/share" || fail "no write series of the directory"
query 'tarvik_probe_up' | grep -q '"127.0.0.2"' || fail "no probe_up series"
curl -sf "http://127.0.0.1:$cport/metrics" >"$W/page"
promtool check metrics <"$W/page" || fail "promtool rejects the page"
# Link quality of the hosts: echoes sent, none lost on loopback, a round-trip histogram.
grep -Eq '^tarvik_echo_sent_total\{resource="127.0.0.2"\} [1-9]' "$W/page" || fail "no echoes counted as sent"
grep -q '^tarvik_echo_lost_total{resource="127.0.0.2"} 0$' "$W/page" || fail "loopback echoes counted as lost"
grep -q '^tarvik_rtt_seconds_bucket{resource="127.0.0.2",le="+Inf"}' "$W/page" || fail "no round-trip histogram"
grep -q '^tarvik_rtt_last_seconds{resource="127.0.0.2"}' "$W/page" || fail "no last round trip"
[ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$cport/other")" = 404 ] || fail "other paths must give 404"
[ "$(curl -s -o /dev/null -w '%{http_code}' -X POST "http://127.0.0.1:$cport/metrics")" = 405 ] || fail "POST must give 405"

# ---- SIGHUP rereads the configuration: a row deleted, one added ----
sed -i -e 's/^Number=3/Number=2/' -e 's/^Object21=127.0.0.2/Object21=127.0.0.3/' "$W/QUORBELT.INI"
kill -HUP "$cli"
for _ in $(seq 1 50); do
  curl -sf "http://127.0.0.1:$cport/metrics" >"$W/page" || true
  grep -q 'resource="127.0.0.3"' "$W/page" && ! grep -q "resource=\"$W/share\"" "$W/page" && break
  sleep 0.2
done
grep -q 'resource="127.0.0.3"' "$W/page" || fail "the changed row was not reread"
grep -q "resource=\"$W/share\"" "$W/page" && fail "the deleted row is still measured"
kill -0 "$cli" || fail "the companion ended on SIGHUP"

# ---- SIGTERM: closes within the close times, status 0 ----
kill -TERM "$cli"
for _ in $(seq 1 50); do kill -0 "$cli" 2>/dev/null || break; sleep 0.1; done
kill -0 "$cli" 2>/dev/null && fail "the companion did not end within 5 s of SIGTERM"
wait "$cli" || fail "the companion exited with status $?"
[ -s "$W/KOR_VEL.ND" ] || [ -f "$W/KOR_VEL.D" ] || fail "the companion did not open the trend files"

# ---- trend files held by another Tarvik: measures without history, says so once ----
python3 -c 'import fcntl, sys, time
f = open(sys.argv[1], "r+"); fcntl.flock(f, fcntl.LOCK_EX); open(sys.argv[2], "w").close(); time.sleep(60)' \
  "$W/KOR_VEL.D" "$W/locked" >/dev/null 2>&1 &
holder=$!; PIDS+=($holder)
for _ in $(seq 1 50); do [ -e "$W/locked" ] && break; sleep 0.1; done
"$CLI" --dir "$W" measure >"$W/cli2.log" 2>&1 &
cli2=$!; PIDS+=($cli2)
sleep 1.5
kill -TERM "$cli2"; wait "$cli2" || fail "second companion exited with status $?"
[ "$(grep -c 'without history' "$W/cli2.log")" -eq 1 ] || fail "no single notice of measuring without history: $(cat "$W/cli2.log")"
kill "$holder"
# ---- the window honours [Metrics] Listen too ----
mkdir -p "$W/win"
cp "$BUILD_DIR/bin/tarvik" "$W/win/tarvik"
wport=$(free_port)
printf '[Main]\nSign=Network speed\n[Objects]\nNumber=1\nObject11=127.0.0.1\nObject15=3\nObject18=300\nObject19=0\nObject110=1024\nObject111=1000\n[Buttons]\nPing objects=1\n[Metrics]\nListen=127.0.0.1:%s\n' "$wport" \
  >"$W/win/QUORBELT.INI"
QT_QPA_PLATFORM=offscreen "$W/win/tarvik" >"$W/win.log" 2>&1 &
win=$!; PIDS+=($win)
for _ in $(seq 1 50); do
  curl -sf "http://127.0.0.1:$wport/metrics" >"$W/winpage" 2>/dev/null && grep -q 'tarvik_probe_up{resource="127.0.0.1",kind="host"} 1' "$W/winpage" && break
  sleep 0.2
done
grep -q 'tarvik_probe_up{resource="127.0.0.1",kind="host"} 1' "$W/winpage" || { cat "$W/win.log"; fail "the window serves no measured host"; }
promtool check metrics <"$W/winpage" || fail "promtool rejects the window's page"
kill -TERM "$win"; wait "$win" || fail "the window exited with status $?"
grep -q "^Listen=127.0.0.1:$wport" "$W/win/QUORBELT.INI" || fail "the window's save lost [Metrics] Listen"

echo "companion test passed"
