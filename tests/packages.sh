#!/usr/bin/env bash
# The packages' life on a machine, as root: installed, nothing enabled or started; the
# exporter enabled (and started, where systemd runs); removed, then purged, and nothing
# of them left behind: no file, no unit link, no dangling link.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(quillo quillo-desktop libquillo-dev)
unit=quillo-exporter.service
link=/etc/systemd/system/multi-user.target.wants/$unit
booted() { [ -d /run/systemd/system ]; }
fail() { echo "packages: $*" >&2; exit 1; }

stamp=$(mktemp)
trap 'rm -f "$stamp"' EXIT
sleep 1  # so that what the packages make is newer than the stamp
apt-get install -y -q ./dist/quillo_*.deb ./dist/quillo-desktop_*.deb ./dist/libquillo-dev_*.deb >/dev/null
for p in "${packages[@]}"; do dpkg-query -W -f='${Status}\n' "$p" | grep -q "ok installed"; done
dpkg-query -W -f='${Depends}\n' quillo | grep -qi 'qt' && fail "quillo depends on Qt"
[ -e "$link" ] && fail "installing enabled the exporter"
if booted && systemctl is-active --quiet "$unit"; then fail "installing started the exporter"; fi

tests/installed.sh

systemctl enable "$unit" 2>/dev/null
[ -L "$link" ] || fail "systemctl enable made no link"
if booted; then
    systemctl start "$unit"
    for _ in $(seq 50); do curl -sf -o /dev/null http://127.0.0.1:9089/metrics && break; sleep 0.2; done
    curl -sf -o /dev/null http://127.0.0.1:9089/metrics || fail "the enabled exporter does not answer"
else
    systemd-analyze verify "/lib/systemd/system/$unit"
fi

apt-get remove -y -q "${packages[@]}" >/dev/null
if booted && systemctl is-active --quiet "$unit"; then fail "removing left the exporter running"; fi
# Removed packages without configuration files are gone already; dpkg purges the rest.
dpkg --purge "${packages[@]}" >/dev/null

left=$(dpkg -S quillo 2>/dev/null || true)
[ -z "$left" ] || fail "dpkg still knows of: $left"
left=$(find /etc /usr /lib /var/lib/systemd /var/lib/dpkg/info -newer "$stamp" -name '*quillo*' 2>/dev/null || true)
[ -z "$left" ] || fail "left behind: $left"
left=$(find /etc /usr /lib -xtype l -newer "$stamp" 2>/dev/null || true)
[ -z "$left" ] || fail "dangling links: $left"
echo "the packages install, serve, and leave nothing behind"
