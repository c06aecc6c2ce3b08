#!/usr/bin/env bash
# Start-up to the window shown: starts Lodrin under Xvfb five times and prints the median time
# from the start of the process to its window being mapped.
#   bench/app/startup.sh [build-dir]
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$top/build}
LODRIN_SETUP_EXTRA="xdotool x11-utils" "$top/scripts/setup"
work=$(mktemp -d)
trap 'kill ${xvfb:-} 2>/dev/null || true; rm -rf "$work"' EXIT
cp "$build/src/lodrin" "$work/lodrin"
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
times=()
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$work/lodrin" &
    app=$!
    # xdotool's own --sync polls twice a second: poll more finely here.
    until xdotool search --onlyvisible --name '^Lodrin $' >/dev/null 2>&1; do sleep 0.01; done
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
    kill -TERM "$app"
    wait "$app" || true
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n | tr '\n' ' ')
echo "start-up to window shown (ms): $sorted"
echo "median: $(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p) ms"
