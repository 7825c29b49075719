#!/usr/bin/env bash
# After `apt install ./dist/*.deb`: the manual pages, the completions, the desktop entry,
# the exporter's service and the library are where a user and another program look for
# them.
set -euo pipefail
cd "$(dirname "$0")/.."
man -w quillo >/dev/null && man quillo 2>/dev/null | grep -q "settings set"
man -w quillo-panel >/dev/null && man -w quillo-term >/dev/null
# shellcheck disable=SC1091
source /usr/share/bash-completion/completions/quillo
COMP_WORDS=(quillo settings set Re)
COMP_CWORD=3
_quillo
[ "${COMPREPLY[*]}" = RefreshRate ]
test -f /usr/share/zsh/vendor-completions/_quillo
test -f /usr/share/fish/vendor_completions.d/quillo.fish
desktop-file-validate /usr/share/applications/io.quillo.Quillo.desktop
test -f /usr/share/icons/hicolor/scalable/apps/io.quillo.Quillo.svg
quillo --version | grep -q "^quillo "
systemd-analyze verify /lib/systemd/system/quillo-exporter.service
systemd-analyze verify /usr/lib/systemd/user/quillo-record.service
promtool check rules /usr/share/doc/quillo/examples/prometheus/quillo-rules.yml >/dev/null
quillo metrics --interval 0 | promtool check metrics

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S examples -B "$work/cmake" -G Ninja >/dev/null
cmake --build "$work/cmake" >/dev/null
# shellcheck disable=SC2046
c++ -std=c++20 examples/machine.cpp $(pkg-config --cflags --libs quillo-metrics) -o "$work/machine-pc"
memory=$(awk '/^MemTotal:/ { printf "%.0f", $2 * 1024 }' /proc/meminfo)
for program in "$work/cmake/machine" "$work/machine-pc"; do
    "$program" | grep -qx "memory $memory bytes"
done
echo "the installed packages serve users and programs"
