#!/usr/bin/env bash
# The README's pictures of both panels, as the build draws them:
#   tests/pictures.sh BIN OUT   writes OUT/desktop.png (quillo snapshot --png) and
#                               OUT/terminal.svg (a frame of the terminal panel in tmux)
# A machine that holds still makes them the same on every run: a copy of a laptop's procfs
# and sysfs whose CPU counters move once, between two refreshes; a wall clock
# stopped by libfaketime, for the uptime; and a start-up disk of fixed size and use, a
# tmpfs made "/" in a mount namespace of its own. Needs root, tmux, inotifywait, faketime.
set -euo pipefail
bin=$(realpath "$1")
out=$(realpath "$2")
source=$(cd "$(dirname "$0")/.." && pwd)

if [ "${QUILLO_PICTURES_ROOT:-}" = "" ]; then
    mkdir -p "$out"
    root=$(mktemp -d /tmp/quillo-pictures.XXXXXX)
    trap 'rmdir "$root"' EXIT
    QUILLO_PICTURES_ROOT=$root unshare --mount --propagation private "$0" "$bin" "$out"
    exit
fi

root=$QUILLO_PICTURES_ROOT
mount -t tmpfs -o size=128m,mode=755 quillo-pictures "$root"
for d in usr etc proc sys dev; do
    mkdir "$root/$d"
    mount --rbind "/$d" "$root/$d"
done
for l in bin lib lib64 sbin; do ln -s "usr/$l" "$root/$l"; done
mkdir -p "$root/opt/quillo" "$root/out" "$root/tmp" "$root/work/home"
mount --bind "$bin" "$root/opt/quillo"
mount --bind "$out" "$root/out"
fallocate -l 40m "$root/work/used"

# The laptop, its CPU counters a refresh on: 37 % of the CPU over the 3 s between
# refreshes. The network's rates stay at 0: a rate depends on the timers' moments, which
# no copied file holds still.
tree=$root/work/tree
cp -r "$source/tests/fixtures/linux/laptop-discharging" "$tree"
cores=$(grep -c '^cpu[0-9]' "$tree/proc/stat")
awk -v n="$cores" '$1 == "cpu" { $2 += 185 * n; $5 += 315 * n }
                   $1 ~ /^cpu[0-9]/ { $2 += 185; $5 += 315 } { print }' \
    "$tree/proc/stat" >"$root/work/stat.later"
advance() {
    # In place: the panel keeps these files open and reads them again from the start.
    cat "$root/work/stat.later" >"$tree/proc/stat"
}
reset() {
    cp "$source/tests/fixtures/linux/laptop-discharging/proc/stat" "$tree/proc/stat"
}

# Each refresh reads stat a few times within milliseconds; a second of quiet ends it.
watch_refreshes() {
    coproc WATCH { exec inotifywait -m -q -e access --format x "$tree/proc/stat"; }
    sleep 0.5
}
next_refresh() {
    read -r -t 60 -u "${WATCH[0]}" _
    while read -r -t 1 -u "${WATCH[0]}" _; do :; done
}
stop_watching() { kill "$WATCH_PID" 2>/dev/null || true; wait "$WATCH_PID" 2>/dev/null || true; }

in_root() {
    chroot "$root" env -i PATH=/opt/quillo:/usr/bin:/bin HOME=/work/home LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen "$@"
}
# The panels' wall clock only (tmux's server does not start under it), stopped 3d 4h 12m
# after the laptop booted.
booted=$(awk '$1 == "btime" { print $2 }' "$tree/proc/stat")
frozen="LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 DONT_FAKE_MONOTONIC=1 TZ=UTC"
frozen+=" FAKETIME='$(date -u -d "@$((booted + 274324))" '+%Y-%m-%d %H:%M:%S')'"
roots=(--procfs /work/tree/proc --sysfs /work/tree/sys)

# The desktop panel: read at start, at 3 s and at 6 s; the counters move between the last two.
watch_refreshes
in_root sh -c "$frozen exec quillo ${roots[*]} snapshot --ticks 2 --interval 3 \
    --png /out/desktop.png --scale 2" >/dev/null 2>&1 &
snapshot=$!
next_refresh
next_refresh
advance
wait "$snapshot"
stop_watching

# The terminal panel in tmux at the same 3 s, captured after the refresh that saw them move.
reset
in_root quillo settings set RefreshRate 3 >/dev/null
watch_refreshes
in_root tmux -S /work/tmux new-session -d -x 62 -y 12 \
    "env $frozen COLORTERM=truecolor quillo-term ${roots[*]}"
next_refresh
next_refresh
advance
next_refresh
sleep 0.3
in_root tmux -S /work/tmux capture-pane -e -p >"$root/work/screen"
in_root tmux -S /work/tmux kill-server
stop_watching
"$bin/frame_svg" <"$root/work/screen" >"$out/terminal.svg"
