#!/usr/bin/env bash
# Uploads one file (512 MiB unless SIZE_MIB says otherwise) to pyftpdlib on 127.0.0.1, started
# with a 1 MiB data buffer, RUNS times (default 5) through lodrin-ftpput and as many through
# curl -T, alternating, and checks every upload byte for byte. Prints both medians and, on the
# last line, lodrin-ftpput's throughput as a fraction of curl's.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${LODRIN_BUILD_DIR:-$top/build}
driver=$build/bench/ftp/lodrin-ftpput
runs=${RUNS:-5}
size_mib=${SIZE_MIB:-512}
[ -x "$driver" ] || { echo "build lodrin-ftpput first ($driver)" >&2; exit 1; }

work=$(mktemp -d)
server=
cleanup() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root/up"
head -c $((size_mib << 20)) /dev/urandom > "$work/file.bin"

/usr/bin/python3 "$top/tests/support/ftp/pyftpd.py" --root "$work/root" --user user \
    --password secret --buffer 1048576 > "$work/port" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(head -n1 "$work/port")
[ -n "$port" ] || { echo "pyftpdlib did not start" >&2; exit 1; }

now() { date +%s.%N; }
upload() { # tool -> seconds
    rm -f "$work/root/up/file.bin"
    local t0 t1
    t0=$(now)
    if [ "$1" = driver ]; then
        "$driver" 127.0.0.1 "$port" user secret "$work/file.bin" /up > /dev/null 2> "$work/log"
    else
        curl -sS -T "$work/file.bin" --user user:secret "ftp://127.0.0.1:$port/up/" 2> "$work/log"
    fi
    t1=$(now)
    cmp -s "$work/file.bin" "$work/root/up/file.bin" || { echo "$1: upload differs" >&2; cat "$work/log" >&2; exit 1; }
    echo "$t0 $t1" | awk '{ printf "%.3f\n", $2 - $1 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: > "$work/driver.times"
: > "$work/curl.times"
for i in $(seq "$runs"); do
    d=$(upload driver); echo "$d" >> "$work/driver.times"
    c=$(upload curl); echo "$c" >> "$work/curl.times"
    echo "run $i: lodrin-ftpput ${d} s, curl ${c} s"
done
md=$(median < "$work/driver.times")
mc=$(median < "$work/curl.times")
awk -v m="$size_mib" -v d="$md" -v c="$mc" 'BEGIN {
    printf "lodrin-ftpput median %.3f s (%.1f MiB/s)\n", d, m / d
    printf "curl -T       median %.3f s (%.1f MiB/s)\n", c, m / c
    printf "ratio of throughput lodrin-ftpput/curl: %.3f\n", c / d
}'
