#!/usr/bin/env bash
# A scrape of `quillo serve` against one of node_exporter with only the collectors that
# read the same files, side by side, one kept-alive connection each, timed by wrk:
#   plain    wrk's own request;
#   scraper  the Accept and Accept-Encoding headers Prometheus sends with every scrape;
# each twice: as the scheduler places the programs, and with server and wrk on one CPU,
# which leaves out what waking an idle CPU costs (tens of microseconds on a virtual
# machine, the same for both servers).
#   bench/exporter-vs-node.sh [BUILD_DIR]     (after ./dev test or ./dev bench has built)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-${QUILLO_BUILD_DIR:-build}}/bin
seconds=${QUILLO_BENCH_SECONDS:-5}
quillo_port=19089
node_port=19100

pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT

start() {  # CPU-LIST COMMAND...: starts a server, pinned where a list is given
    if [ -n "$1" ]; then taskset -c "$1" "${@:2}" >/dev/null 2>&1 & else "${@:2}" >/dev/null 2>&1 & fi
    pids+=($!)
}

median_us() {  # WRK-COMMAND...: the median latency it reports, in microseconds
    "$@" | awk '$1 == "50%" {
        v = $2; u = v; sub(/[0-9.]+/, "", u); sub(/[a-z]+$/, "", v)
        printf "%.0f", v * (u == "ms" ? 1000 : u == "s" ? 1000000 : 1) }'
}

scraper=(-H 'Accept: application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1'
         -H 'Accept-Encoding: gzip')
for placement in scheduler one-cpu; do
    cpu=""
    [ "$placement" = one-cpu ] && cpu=$(($(nproc) - 1))
    pids=()
    start "$cpu" "$bin/quillo" serve --listen "127.0.0.1:$quillo_port"
    start "$cpu" prometheus-node-exporter --web.listen-address="127.0.0.1:$node_port" \
        --collector.disable-defaults --collector.cpu --collector.meminfo --collector.loadavg \
        --collector.netdev --collector.filesystem --collector.stat --collector.powersupplyclass \
        --collector.thermal_zone --collector.vmstat --collector.diskstats --collector.pressure \
        --collector.hwmon
    for _ in $(seq 50); do
        curl -sf -o /dev/null "http://127.0.0.1:$quillo_port/metrics" &&
            curl -sf -o /dev/null "http://127.0.0.1:$node_port/metrics" && break
        sleep 0.1
    done
    run=(wrk --latency -t1 -c1 -d"${seconds}s")
    [ -n "$cpu" ] && run=(taskset -c "$cpu" "${run[@]}")
    for request in plain scraper; do
        headers=()
        [ "$request" = scraper ] && headers=("${scraper[@]}")
        quillo=$(median_us "${run[@]}" "${headers[@]}" "http://127.0.0.1:$quillo_port/metrics")
        node=$(median_us "${run[@]}" "${headers[@]}" "http://127.0.0.1:$node_port/metrics")
        awk -v p="$placement" -v r="$request" -v q="$quillo" -v n="$node" \
            'BEGIN { printf "%-9s %-7s quillo %5d us   node_exporter %5d us   %5.1fx\n", p, r, q, n, n / q }'
    done
    cleanup
    wait 2>/dev/null || true
done
