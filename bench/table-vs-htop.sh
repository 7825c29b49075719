#!/usr/bin/env bash
# The terminal panel's process table (t) beside htop, both showing every process of a
# machine with 2,000 more of them, both refreshing each second in terminals of the same
# size, for SECONDS seconds (default 40): prints each one's CPU time after a warm-up and
# the ratio. Needs tmux and htop.
#   bench/table-vs-htop.sh [SECONDS]    (after ./dev test or ./dev bench has built)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-40}
bin=$(cd "${QUILLO_BUILD_DIR:-build}/bin" && pwd)
for tool in tmux htop; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

scratch=$(mktemp -d)
session=quillo-table-$$
sleepers=()
cleanup() {
    tmux kill-session -t "$session" 2>/dev/null || true
    kill "${sleepers[@]}" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The sleepers end by themselves should this script be killed before its cleanup.
for _ in $(seq 2000); do
    sleep $((seconds + 60)) &
    sleepers+=($!)
done

export XDG_CONFIG_HOME=$scratch HTOPRC=$scratch/htoprc
"$bin/quillo" settings set RefreshRate 1
tmux new-session -d -s "$session" -x 120 -y 50 "env XDG_STATE_HOME=/proc/quillo-none $bin/quillo-term"
tmux new-window -t "$session" "htop -d 10"
tmux resize-window -t "$session:1" -x 120 -y 50 2>/dev/null || true
sleep 1
tmux send-keys -t "$session:0" t
table=$(tmux list-panes -t "$session:0" -F '#{pane_pid}')
htop=$(tmux list-panes -t "$session:1" -F '#{pane_pid}')

cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f\n", s}'; }
warmup=5
sleep "$warmup"
table0=$(cpu_ns "$table") htop0=$(cpu_ns "$htop")
sleep $((seconds - warmup))
table1=$(cpu_ns "$table") htop1=$(cpu_ns "$htop")
tmux capture-pane -t "$session:0" -p | tail -3 | head -1 | grep -q . || { echo "no table drawn" >&2; exit 1; }
awk -v t=$((table1 - table0)) -v h=$((htop1 - htop0)) -v s=$((seconds - warmup)) 'BEGIN {
    printf "%-22s %9.3f%% of a core\n", "quillo-term table", 100 * t / 1e9 / s
    printf "%-22s %9.3f%% of a core\n", "htop", 100 * h / 1e9 / s
    printf "table / htop: %.2f\n", t / h
    exit !(t < h) }'
