#!/usr/bin/env bash
# The manual pages render without a warning, and say every command and setting (with
# its default) that the programs themselves know.
#   tests/manuals.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
for page in "$build"/packaging/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
done
manual=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$build/packaging/quillo.1.gz" 2>/dev/null)
commands=$("$build/bin/quillo" --help | awk '/^Subcommands:/ { on = 1; next } on && NF { print $1 }')
for command in $commands; do
    grep -q "^       $command" <<<"$manual" || { echo "quillo.1 lacks the command $command"; exit 1; }
    grep -q "quillo $command" "$source/README.md" || { echo "README.md lacks quillo $command"; exit 1; }
done
keys=$("$build/bin/quillo" settings --help | awk '/^Keys:/ { on = 1; next } on && /^  [A-Z]/ { print $1 }')
[ -n "$keys" ] || { echo "no settings keys in quillo settings --help"; exit 1; }
for key in $keys; do
    grep -q "^       $key" <<<"$manual" || { echo "quillo.1 lacks the setting $key"; exit 1; }
    grep -q "\`$key\`" "$source/README.md" || { echo "README.md lacks the setting $key"; exit 1; }
done
for key in AlertBatteryBelow AlertMemoryAbove AlertDiskAbove RefreshRate; do
    default=$(XDG_CONFIG_HOME=$(mktemp -d) "$build/bin/quillo" settings get "$key")
    [ "$key" = RefreshRate ] && default=1
    grep -A3 "^       $key" <<<"$manual" | grep -q "Default: $default\." ||
        { echo "quillo.1 does not give $key's default $default"; exit 1; }
done
echo "manual pages render cleanly and name every command and setting"
