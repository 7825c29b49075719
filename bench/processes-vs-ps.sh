#!/usr/bin/env bash
# Times `quillo processes --json` against `ps -e -o pid,ppid,pgid,euid,comm,stat` with
# COUNT extra processes running (default 2000), and runs process_bench, which prints
# ProcessAPI.list() against the bare reads it needs, in the same run.
#   bench/processes-vs-ps.sh [COUNT]     (after ./dev test or ./dev bench has built)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-2000}
bin=${QUILLO_BUILD_DIR:-build}/bin

pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT
for ((i = 0; i < count; i++)); do
    sleep 600 &
    pids+=($!)
done
echo "processes running: $(ls -d /proc/[0-9]* | wc -l)"

time_ms() {  # median of 21 runs, in milliseconds; the clock is bash's own, not a process
    local runs=() start end
    for ((r = 0; r < 21; r++)); do
        start=${EPOCHREALTIME/./}
        "$@" >/dev/null
        end=${EPOCHREALTIME/./}
        runs+=($((end - start)))
    done
    printf '%s\n' "${runs[@]}" | sort -n | sed -n 11p | awk '{printf "%.1f", $1 / 1000}'
}

ps_ms=$(time_ms ps -e -o pid,ppid,pgid,euid,comm,stat)
quillo_ms=$(time_ms "$bin/quillo" processes --json)
echo "ps -e -o pid,ppid,pgid,euid,comm,stat   ${ps_ms} ms"
echo "quillo processes --json                 ${quillo_ms} ms"
awk -v p="$ps_ms" -v q="$quillo_ms" 'BEGIN { printf "quillo is %.1fx faster than ps\n", p / q }'
"$bin/process_bench" --benchmark_min_time=0.5
