#!/usr/bin/env bash
# Debian's real Prometheus against vorpane-cli's exporter, all inside a
# network namespace of this test's own, on its loopback: two virtual
# printers on 127.0.0.11 and 127.0.0.12, the exporter sweeping 127.0.0.8/29,
# and a Prometheus that finds the printers through /sd, scrapes each through
# /probe, and sees the paper run out on one of them in its query API.
# Usage: prometheus-lab-test.sh VORPANE_CLI VORPANE_PRINTER
set -euo pipefail
cli=$1
printer=$2

if [ "$(id -u)" -ne 0 ]; then
  echo "prometheus lab test skipped: needs root for a network namespace"
  exit 0
fi
if ! command -v prometheus >/dev/null; then
  echo "prometheus lab test skipped: Debian's prometheus is not installed"
  exit 0
fi

ns="vp-prom-$$"
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  ip netns delete "$ns" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
ip netns add "$ns"
ip -n "$ns" link set lo up
# Run in the background with ip netns exec itself, which execs the program,
# so that $! is the program's own process.
in_ns() { ip netns exec "$ns" "$@"; }

# Each printer reads its control lines from a pipe this script holds open.
for host in 11 12; do
  mkfifo "$tmp/control-$host"
  ip netns exec "$ns" "$printer" --listen "127.0.0.$host" --port 9100 --journal "$tmp/journal-$host" \
    <"$tmp/control-$host" >/dev/null &
  pids+=($!)
done
exec 3>"$tmp/control-11" 4>"$tmp/control-12"

# Waits until "$@" succeeds, at most $1 seconds.
wait_for() {
  local seconds=$1
  shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    if [ "$SECONDS" -ge "$end" ]; then
      return 1
    fi
    sleep 0.2
  done
}
listening() { grep -q '^listening on' "$tmp/journal-11" 2>/dev/null && grep -q '^listening on' "$tmp/journal-12" 2>/dev/null; }
wait_for 10 listening || { echo "FAIL: the virtual printers did not start" >&2; exit 1; }

ip netns exec "$ns" "$cli" metrics 127.0.0.8/29 --listen 127.0.0.1:9464 --rescan 2 2>"$tmp/exporter.log" &
pids+=($!)

cat >"$tmp/prometheus.yml" <<'EOF'
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: receipt-printers
    metrics_path: /probe
    http_sd_configs:
      - url: http://127.0.0.1:9464/sd
        refresh_interval: 1s
    relabel_configs:
      - source_labels: [__address__]
        target_label: __param_target
      - source_labels: [__param_target]
        target_label: instance
      - target_label: __address__
        replacement: 127.0.0.1:9464
EOF
promtool check config "$tmp/prometheus.yml" >/dev/null
ip netns exec "$ns" prometheus --config.file="$tmp/prometheus.yml" --storage.tsdb.path="$tmp/data" \
  --web.listen-address=127.0.0.1:9090 >"$tmp/prometheus.log" 2>&1 &
pids+=($!)

# The value of a query's one sample, "none" without one.
value() {
  in_ns curl -sf --max-time 2 --get 'http://127.0.0.1:9090/api/v1/query' --data-urlencode "query=$1" |
    jq -r 'if (.data.result | length) == 1 then .data.result[0].value[1] else "none" end' 2>/dev/null ||
    echo none
}
is() { [ "$(value "$1")" = "$2" ]; }

# Both printers found through /sd and read through /probe.
if ! wait_for 30 is 'count(vorpane_printer_up{job="receipt-printers"} == 1)' 2; then
  echo "FAIL: Prometheus did not see both printers up" >&2
  in_ns curl -s 'http://127.0.0.1:9090/api/v1/targets' >&2 || true
  tail -n 20 "$tmp/exporter.log" "$tmp/prometheus.log" >&2
  exit 1
fi
in_ns curl -sf 'http://127.0.0.1:9090/api/v1/targets' |
  jq -e '[.data.activeTargets[].scrapeUrl] | sort ==
         ["http://127.0.0.1:9464/probe?target=127.0.0.11%3A9100",
          "http://127.0.0.1:9464/probe?target=127.0.0.12%3A9100"]' >/dev/null ||
  { echo "FAIL: the targets are not the two probes" >&2; exit 1; }
is 'vorpane_printer_paper_end{instance="127.0.0.11:9100"}' 0
is 'vorpane_printer_info{instance="127.0.0.12:9100",maker="Vorpane"}' 1
echo "prometheus: both printers found through /sd and up through /probe"

# The paper runs out on one of them: seen within a few scrapes, on it alone.
echo "set paper-end" >&3
if ! wait_for 15 is 'vorpane_printer_paper_end{instance="127.0.0.11:9100"}' 1; then
  echo "FAIL: Prometheus did not see the paper end of 127.0.0.11" >&2
  exit 1
fi
is 'vorpane_printer_paper_end{instance="127.0.0.12:9100"}' 0 ||
  { echo "FAIL: the paper end showed on 127.0.0.12 too" >&2; exit 1; }
is 'vorpane_printer_up{instance="127.0.0.11:9100"}' 1 ||
  { echo "FAIL: the printer out of paper was not up" >&2; exit 1; }
echo "prometheus: the paper end of 127.0.0.11 seen in its query API"
