#!/usr/bin/env bash
# Runs the terminal panel (in tmux) and the desktop panel (under Xvfb) at a 1 s refresh
# for SECONDS seconds (default 60), beside `top -b -d 1` and, where installed, htop and
# conky, all at once, and prints each one's CPU time and peak resident memory, read the
# same way from procfs.
#   bench/panels-vs-monitors.sh [SECONDS]    (after ./dev test or ./dev bench has built)
# Needs tmux, Xvfb (package xvfb) and top (procps).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bin=$(cd "${QUILLO_BUILD_DIR:-build}/bin" && pwd)
for tool in tmux Xvfb top; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

scratch=$(mktemp -d)
display=:$((90 + RANDOM % 9))
session=quillo-bench-$$
cleanup() {
    tmux kill-session -t "$session" 2>/dev/null || true
    kill "${started[@]}" 2>/dev/null || true
    rm -rf "$scratch"
}
started=()
trap cleanup EXIT

export XDG_CONFIG_HOME=$scratch
"$bin/quillo" settings set RefreshRate 1

Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
started+=($!)
sleep 1

declare -A pid
# Each panel records its own history, as it would alone on a machine.
tmux new-session -d -s "$session" -x 100 -y 30 "env XDG_STATE_HOME=$scratch/state1 $bin/quillo-term"
pid[terminal panel]=$(tmux list-panes -t "$session" -F '#{pane_pid}')
# The compact terminal panel with no history to write (a state folder that cannot be
# made), for what recording costs beside it.
tmux new-window -t "$session" "env XDG_STATE_HOME=/proc/quillo-none $bin/quillo-term"
pid[not recording]=$(tmux list-panes -t "$session:1" -F '#{pane_pid}')
# The terminal panel again with every row, in a window as tall as they need.
mkdir -p "$scratch/all"
XDG_CONFIG_HOME=$scratch/all "$bin/quillo" settings set RefreshRate 1
XDG_CONFIG_HOME=$scratch/all "$bin/quillo" settings set Rows \
    cpu,cores,memory,swap,pressure,disk,filesystems,diskio,network,interfaces,load,uptime,temperatures,fans,battery
tmux new-window -t "$session" "env XDG_CONFIG_HOME=$scratch/all XDG_STATE_HOME=$scratch/state2 $bin/quillo-term"
tmux resize-window -t "$session:2" -x 100 -y 60 2>/dev/null || true
pid[every row]=$(tmux list-panes -t "$session:2" -F '#{pane_pid}')
DISPLAY=$display XDG_STATE_HOME=$scratch/state3 "$bin/quillo-panel" --desktop >/dev/null 2>&1 &
pid[desktop panel]=$!
started+=($!)
top -b -d 1 >/dev/null &
pid[top -b -d 1]=$!
started+=($!)
if command -v htop >/dev/null; then
    tmux new-window -t "$session" "htop -d 10"
    pid[htop]=$(tmux list-panes -t "$session:3" -F '#{pane_pid}')
fi
if command -v conky >/dev/null; then
    # The panel's own figures and bars, so that both draw the same things.
    iface=$(awk '$2 == "00000000" { print $1; exit }' /proc/net/route)
    cat >"$scratch/conky.conf" <<EOF
conky.config = { update_interval = 1, out_to_x = true, own_window = true, double_buffer = true }
conky.text = [[
CPU \${cpubar 6,160} \${cpu}%
Memory \${membar 6,160} \${memperc}%
Disk \${fs_bar 6,160 /} \${fs_used_perc /}%
Network \${downspeed ${iface:-lo}} \${upspeed ${iface:-lo}}
Load Average: \${loadavg}
Uptime: \${uptime}
Battery \${battery_bar 6,160} \${battery_percent}%
\${battery_time}
]]
EOF
    DISPLAY=$display conky -c "$scratch/conky.conf" >/dev/null 2>&1 &
    pid[conky]=$!
    started+=($!)
fi

# CPU time from each thread's schedstat (nanoseconds on a CPU), which the 10 ms clock
# ticks of /proc/PID/stat are too coarse to compare at these loads: over the whole run,
# and in the steady state after a warm-up of 10 s (starting Qt, reading the history).
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {print s + 0}'; }
names=("terminal panel" "not recording" "every row" "desktop panel" "top -b -d 1" htop conky)
warmup=10
sleep "$warmup"
declare -A warm
for name in "${names[@]}"; do
    p=${pid[$name]:-}
    [ -n "$p" ] && warm[$name]=$(cpu_ns "$p")
done
sleep $((seconds - warmup))
printf '%-16s %10s %10s %12s %12s\n' program "cpu time" "% of core" "steady %" "peak memory"
for name in "${names[@]}"; do
    p=${pid[$name]:-}
    [ -n "$p" ] && [ -r "/proc/$p/status" ] || continue
    ns=$(cpu_ns "$p")
    hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$p/status")
    awk -v n="$name" -v ns="$ns" -v w="${warm[$name]}" -v secs="$seconds" -v warm="$warmup" -v h="$hwm" \
        'BEGIN { c = ns / 1e9; s = (ns - w) / 1e9 / (secs - warm)
                 printf "%-16s %9.3fs %9.3f%% %11.3f%% %9.1f MiB\n", n, c, 100 * c / secs, 100 * s, h / 1024 }'
done
