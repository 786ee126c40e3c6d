#!/bin/sh
# Runs the self-test driver on Linux with the .so and under wine with the
# .aex; the lines must be identical.
# usage: wine_selftest.sh WINE WIN_DRIVER AEX LINUX_DRIVER SO
set -eu
wine=$1 win_driver=$2 aex=$3 linux_driver=$4 so=$5

work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    # Only the server of this test's own prefix.
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

"$linux_driver" "$so" >"$work/linux.txt"

# Z: is wine's view of the Unix root.
status=0
"$wine" "$win_driver" "Z:$aex" >"$work/windows.raw" 2>"$work/wine.err" || status=$?
tr -d '\r' <"$work/windows.raw" >"$work/windows.txt"
if [ "$status" -ne 0 ]; then
    echo "windows driver failed with status $status" >&2
    cat "$work/wine.err" >&2
fi

lines=$(wc -l <"$work/linux.txt")
if [ "$lines" -eq 0 ]; then
    echo "the Linux driver printed nothing" >&2
    exit 1
fi
if ! diff -u "$work/linux.txt" "$work/windows.txt"; then
    echo "Windows output differs from Linux output" >&2
    exit 1
fi
[ "$status" -eq 0 ] || exit 1
echo "$lines outputs identical"
