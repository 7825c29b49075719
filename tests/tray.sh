#!/usr/bin/env bash
# The tray icon on a desktop whose tray hosts only StatusNotifierItems: a real standalone
# host (gtk-sni-tray) under Xvfb, on a session bus of its own (run under
# dbus-run-session), started after the panel as a shell's extension may be. The panel's
# item registers with the watcher, names itself, and exports its menu.
#   dbus-run-session -- tests/tray.sh BIN FIXTURES
set -euo pipefail
bin=$1 fixtures=$2
scratch=$(mktemp -d)
started=()
cleanup() {
    kill "${started[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1024x768x24 2>/dev/null &
started+=($!)
read -r -t 10 display <&"$displayfd" || fail "Xvfb gave no display"
export DISPLAY=:$display XDG_CONFIG_HOME=$scratch XDG_STATE_HOME=$scratch QT_QPA_PLATFORM=xcb
tree=$fixtures/linux/desktop-no-battery
"$bin/quillo-panel" --desktop --procfs "$tree/proc" --sysfs "$tree/sys" 2>"$scratch/panel.log" &
started+=($!)
panel=$!
sleep 1
gtk-sni-tray-standalone --watcher >/dev/null 2>&1 &
started+=($!)

property() {  # SERVICE PATH INTERFACE NAME
    gdbus call --session --dest "$1" --object-path "$2" \
        --method org.freedesktop.DBus.Properties.Get "$3" "$4" 2>/dev/null
}
item=
for _ in $(seq 100); do
    for name in $(property org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'"); do
        service=${name%%/*}
        owner=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.GetConnectionUnixProcessID "$service" 2>/dev/null |
            grep -o '[0-9]\+' | tail -1)
        [ "$owner" = "$panel" ] && item=$service
    done
    [ -n "$item" ] && break
    sleep 0.1
done
[ -n "$item" ] || fail "the panel's item never registered with the watcher: $(cat "$scratch/panel.log")"
property "$item" /StatusNotifierItem org.kde.StatusNotifierItem Title | grep -q "'Quillo'" ||
    fail "the item is not titled Quillo"
property "$item" /StatusNotifierItem org.kde.StatusNotifierItem IconPixmap | grep -q "(64, 64" ||
    fail "the item has no icon drawn"
menu=$(property "$item" /StatusNotifierItem org.kde.StatusNotifierItem Menu | grep -o "'/[^']*'" | tr -d "'")
layout=$(gdbus call --session --dest "$item" --object-path "$menu" \
    --method com.canonical.dbusmenu.GetLayout 0 'int32 -1' '@as []')
for entry in "Show or Hide Panel" "Preferences" "Quit"; do
    grep -q "$entry" <<<"$layout" || fail "the menu lacks $entry: $layout"
done
echo "item $item with its menu"
