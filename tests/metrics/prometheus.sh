#!/usr/bin/env bash
# A real Prometheus scrapes `vekctl --sim serve` on loopback and answers a query
# for one temperature series; promtool checks the text format first.
#   tests/metrics/prometheus.sh VEKCTL
set -euo pipefail
vekctl=${1:?usage: prometheus.sh VEKCTL}
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

"$vekctl" --sim metrics > "$work/metrics.txt"
promtool check metrics < "$work/metrics.txt"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
vport=$(free_port)
pport=$(free_port)

"$vekctl" --sim serve --listen "127.0.0.1:$vport" --min-interval 0.5 2>"$work/serve.log" &
pids+=($!)
cat > "$work/prometheus.yml" <<YML
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: vek
    static_configs:
      - targets: ['127.0.0.1:$vport']
YML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$pport" >"$work/prometheus.log" 2>&1 &
pids+=($!)

# Bounded: 60 s for Prometheus to start, scrape and answer.
query='vek_temp_celsius{sensor="temp1",job="vek"}'
for _ in $(seq 120); do
    answer=$(python3 - "$pport" "$query" <<'PY' || true
import json, sys, urllib.parse, urllib.request
port, query = sys.argv[1], sys.argv[2]
url = "http://127.0.0.1:%s/api/v1/query?query=%s" % (port, urllib.parse.quote(query))
try:
    doc = json.load(urllib.request.urlopen(url, timeout=2))
except Exception:
    sys.exit(1)
result = doc.get("data", {}).get("result", [])
if doc.get("status") == "success" and result:
    print(result[0]["value"][1])
PY
)
    if [ -n "$answer" ]; then
        echo "Prometheus answered $query = $answer"
        [ "$answer" = 52 ] || { echo "expected the simulated board's 52 °C"; exit 1; }
        exit 0
    fi
    sleep 0.5
done
echo "Prometheus gave no answer for $query within 60 s"
tail -20 "$work/prometheus.log" "$work/serve.log"
exit 1
