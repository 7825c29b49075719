#!/usr/bin/env bash
# A program outside the repository builds against an installed, then moved, copy of the
# library, once with CMake's find_package and once with pkg-config, and what it prints
# is this machine's.
#   tests/consumer.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" --component development >/dev/null
mv "$work/prefix" "$work/moved"
cmake -S "$source/examples" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$work/moved" >/dev/null
cmake --build "$work/cmake" >/dev/null
pc=$(find "$work/moved" -name quillo-metrics.pc)
# shellcheck disable=SC2046
c++ -std=c++20 "$source/examples/machine.cpp" \
    $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --define-variable=prefix="$work/moved" --cflags --libs quillo-metrics) \
    -o "$work/machine-pc"

memory=$(awk '/^MemTotal:/ { printf "%.0f", $2 * 1024 }' /proc/meminfo)
for program in "$work/cmake/machine" "$work/machine-pc"; do
    out=$("$program")
    grep -qx "memory $memory bytes" <<<"$out" || { echo "$program: $out; MemTotal is $memory bytes"; exit 1; }
    grep -qx "sample memory $memory bytes" <<<"$out" || { echo "$program: $out; the sample disagrees"; exit 1; }
    grep -qx "listed yes" <<<"$out" || { echo "$program: not in its own process list"; exit 1; }
done
echo "both consumers agree with the kernel"
