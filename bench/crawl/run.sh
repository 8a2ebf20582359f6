#!/usr/bin/env bash
# The whole-crawl benchmark: a generated site in the directory's markup (list pages
# of about 60 KB, cards of about 40 KB) served by a real nginx on loopback (gzip on,
# also for HTTP/1.0), crawled by the headless executable and, in the same run, by
# a Scrapy spider walking the same pages with the same markers (2 concurrent
# requests, keep-alive). Prints, per crawl, wall time, pages/s, CPU per page, peak
# RSS (GNU time), failed attempts, rows and the TCP connections nginx accepted for
# it (distinct connection serial numbers in its access log), then the ratios of
# each round.
#
#     bench/crawl/run.sh [--pages N] [--delay MS] [--threads N]... [--rounds R]
#                        [--keep-alive] [--no-scrapy] [--other QUORVEL_SCRAPER]...
#
#   --pages N     about N pages (default 4800)
#   --delay MS    route every connection through a loopback proxy that holds each
#                 chunk MS milliseconds each way (15 = a 30 ms round trip)
#   --threads N   crawl with --threads N; repeat for several (default: 2); pages/s
#                 of each count is also given relative to the first
#   --rounds R    repeat all crawls R times, in the same order (default 1)
#   --keep-alive  the --threads crawls run with --keep-alive (HTTP/1.1, connections
#                 kept across pages); --other crawls keep their defaults, so
#                 "--keep-alive --other build/bin/quorvel-scraper" compares both modes
#   --no-scrapy   leave the peer out
#   --other EXE   also crawl with another build of quorvel-scraper (its defaults)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
bench="$root/bench/crawl"
build=${BUILD_DIR:-build}
pages=4800 delay=0 rounds=1 scrapy=1 keepalive=0
threads=() others=()
while [ $# -gt 0 ]; do
    case "$1" in
    --pages) pages=$2; shift 2 ;;
    --delay) delay=$2; shift 2 ;;
    --threads) threads+=("$2"); shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --keep-alive) keepalive=1; shift ;;
    --no-scrapy) scrapy=0; shift ;;
    --other) others+=("$(realpath "$2")"); shift 2 ;;
    *) sed -n '/^#     bench/,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done
[ ${#threads[@]} -gt 0 ] || threads=(2)

need=()
[ -x /usr/bin/time ] || need+=(time)
[ "$scrapy" = 0 ] || /usr/bin/python3 -c "import scrapy" 2>/dev/null || need+=(python3-scrapy)
if [ ${#need[@]} -gt 0 ]; then
    echo "installing ${need[*]} from Debian" >&2
    apt-get install -y -q "${need[@]}" >/dev/null
fi
scripts/setup >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-crawl.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits until the file $1 has $2 lines, or fails naming $3 when process $4 ended.
wait_lines() {
    for _ in $(seq 1 600); do
        [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ] && return 0
        kill -0 "$4" 2>/dev/null || { echo "$3 did not start" >&2; cat "$1" >&2; exit 1; }
        sleep 0.1
    done
    echo "$3 did not start in time" >&2
    exit 1
}

access="$work/nginx/access.log"
"$root/$build/bin/quorvel-testsite" --nginx "$work" --pages "$pages" --log-connections \
    >"$work/site.out" &
pids+=($!)
wait_lines "$work/site.out" 2 nginx "${pids[-1]}"
base=$(sed -n 1p "$work/site.out")
count=$(sed -n 2p "$work/site.out")
echo "site: $count pages served by nginx over HTTPS at $base, gzip on"
if [ "$delay" != 0 ]; then
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    /usr/bin/python3 "$bench/delay_proxy.py" "$port" "${base##*:}" "$delay" >"$work/proxy.out" &
    pids+=($!)
    wait_lines "$work/proxy.out" 1 "delay proxy" "${pids[-1]}"
    base="https://127.0.0.1:$port"
    echo "through a proxy that holds every chunk $delay ms each way, at $base"
fi

# The access log's length before a crawl; connections_since counts the distinct
# connection serial numbers logged after it. nginx logs a request before it closes
# the request's connection, so a crawl that has ended is in the log whole.
log_mark() { wc -l <"$access"; }
connections_since() { tail -n "+$(($1 + 1))" "$access" | cut -d' ' -f1 | sort -u | wc -l; }

# Stops the benchmark when the crawl named $1 ended with status $2, showing its
# output file $3 (the first line and the last ones): its figures would mean nothing.
check_status() {
    [ "$2" = 0 ] && return 0
    echo "$1: ended with status $2" >&2
    if [ "$(wc -l <"$3")" -le 6 ]; then cat "$3" >&2; else sed -n 1p "$3" >&2; echo "..." >&2; tail -n 4 "$3" >&2; fi
    exit 1
}

# Prints one result line: name, pages, failed attempts, rows, TCP connections, then
# GNU time's file.
report() {
    local wall user sys rss_kb
    read -r wall user sys rss_kb <"$6"
    awk -v name="$1" -v pages="$2" -v failed="$3" -v rows="$4" -v conns="$5" -v wall="$wall" \
        -v user="$user" -v sys="$sys" -v rss="$rss_kb" 'BEGIN {
        cpu = user + sys
        printf "%-28s wall %6.1f s %7.1f pages/s  CPU %5.1f s %5.2f ms/page  RSS %5.1f MB  failed %d  rows %d  connections %d\n",
               name, wall, pages / wall, cpu, cpu * 1000 / pages, rss / 1024, failed, rows, conns
        printf "%s %.3f %.4f\n", name, pages / wall, cpu * 1000 / pages >> "'"$work/results"'"
    }'
}

# Crawls with the executable $1, passing it the further arguments, named $2.
crawl_ours() {
    local exe=$1 name=$2 run pages failed rows mark status=0
    shift 2
    run=$(mktemp -d "$work/run.XXXXXX")
    cp "$exe" "$run/quorvel-scraper"
    printf '%s\r\n' "Россия, Тестоград=$base" >"$run/cities.txt"
    "$root/scripts/prepare-bin" "$run"
    mark=$(log_mark)
    (cd "$run" && QUORVEL_BASE_URL="$base" /usr/bin/time -f "%e %U %S %M" -o time.txt \
        ./quorvel-scraper --headless --all --fresh "$@" </dev/null >log.txt 2>summary.txt) ||
        status=$?
    check_status "$name" "$status" "$run/summary.txt"
    pages=$(sed -n 's/.*: \([0-9]*\) pages fetched.*/\1/p' "$run/summary.txt" | tail -1)
    [ -n "$pages" ] || pages=$count
    # One line per failed attempt: "ERROR_<reason> для <url>".
    failed=$(grep -c "ERROR_.* для " "$run/log.txt" || true)
    rows=$(($(wc -l <"$(ls "$run"/data*.csv)") - 1))
    report "$name" "$pages" "$failed" "$rows" "$(connections_since "$mark")" "$run/time.txt"
}

crawl_scrapy() {
    local run pages failed mark status=0
    run=$(mktemp -d "$work/scrapy.XXXXXX")
    mark=$(log_mark)
    (cd "$run" && /usr/bin/time -f "%e %U %S %M" -o time.txt /usr/bin/python3 -m scrapy runspider \
        "$bench/quorvel_spider.py" -a base="$base" -a out=rows.csv -a pages=pages.txt \
        >log.txt 2>&1) || status=$?
    check_status "scrapy keep-alive" "$status" "$run/log.txt"
    read -r pages failed <"$run/pages.txt"
    report "scrapy keep-alive" "$pages" "$failed" "$(($(wc -l <"$run/rows.csv") - 1))" \
        "$(connections_since "$mark")" "$run/time.txt"
}

for round in $(seq 1 "$rounds"); do
    echo "round $round:"
    : >"$work/results"
    for n in "${threads[@]}"; do
        if [ "$keepalive" = 1 ]; then
            crawl_ours "$root/$build/bin/quorvel-scraper" "quorvel-scraper, $n threads, keep-alive" \
                --threads "$n" --keep-alive
        else
            crawl_ours "$root/$build/bin/quorvel-scraper" "quorvel-scraper, $n threads" --threads "$n"
        fi
    done
    for exe in "${others[@]}"; do
        crawl_ours "$exe" "$(basename "$(dirname "$(dirname "$exe")")")/$(basename "$exe")"
    done
    [ "$scrapy" = 0 ] || crawl_scrapy
    # Ratios: every other crawl of ours against the first, the first against Scrapy.
    awk '{ name[NR] = $0; sub(/ [^ ]+ [^ ]+$/, "", name[NR]); speed[NR] = $(NF-1); cpu[NR] = $NF }
         END { for (i = 2; i <= NR; i++) {
                   a = name[i] ~ /^scrapy/ ? 1 : i; b = a == 1 ? i : 1
                   printf "  %s / %s: pages/s x%.2f, CPU per page x%.2f\n", name[a], name[b],
                          speed[a] / speed[b], cpu[a] / cpu[b] } }' "$work/results"
done
