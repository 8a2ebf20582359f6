#!/usr/bin/env bash
# The whole-crawl figure: a generated site of about PAGES pages (default 4800; list
# pages of about 60 KB, cards of about 40 KB) served by a real nginx (gzip on, also
# for HTTP/1.0), crawled by the headless executable with its two fetch threads.
# Prints pages per second, CPU per page, peak RSS, failed attempts and rows written.
# Further executables named after PAGES (another build of quorvel-scraper) crawl the
# same site in the same run, one after the other, for comparison.
#
#     bench/nginx_crawl/run.sh [PAGES [OTHER_QUORVEL_SCRAPER]...]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
pages=${1:-4800}
build=${BUILD_DIR:-build}
scrapers=("$root/$build/bin/quorvel-scraper" "${@:2}")
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 1; }
scripts/setup >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-nginx-crawl.XXXXXX")
site_pid=
cleanup() {
    [ -n "$site_pid" ] && { kill "$site_pid" 2>/dev/null || true; wait "$site_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT

"$root/$build/bin/quorvel-testsite" --nginx "$work" --pages "$pages" >"$work/site.out" &
site_pid=$!
for _ in $(seq 1 600); do
    [ "$(wc -l <"$work/site.out")" -ge 2 ] && break
    kill -0 "$site_pid" 2>/dev/null || { echo "nginx did not start" >&2; exit 1; }
    sleep 0.1
done
base=$(sed -n 1p "$work/site.out")
count=$(sed -n 2p "$work/site.out")
echo "site: $count pages served by nginx over HTTPS at $base, gzip on"

# Crawls the site with the executable $1 in a directory of its own.
crawl() {
    local run
    run=$(mktemp -d "$work/run.XXXXXX")
    cp "$1" "$run/quorvel-scraper"
    printf '%s\r\n' "Россия, Тестоград=$base" >"$run/cities.txt"
    "$root/scripts/prepare-bin" "$run"
    (cd "$run" && QUORVEL_BASE_URL="$base" /usr/bin/time -f "%e %U %S %M" -o time.txt \
        ./quorvel-scraper --headless --all --fresh </dev/null >log.txt)
    local wall user sys rss_kb failed rows
    read -r wall user sys rss_kb <"$run/time.txt"
    # One line per failed attempt: "ERROR_<reason> для <url>".
    failed=$(grep -c "ERROR_.* для " "$run/log.txt" || true)
    rows=$(($(wc -l <"$(ls "$run"/data*.csv)") - 1))
    awk -v name="$1" -v pages="$count" -v rows="$rows" -v wall="$wall" -v user="$user" \
        -v sys="$sys" -v rss="$rss_kb" -v failed="$failed" 'BEGIN {
        cpu = user + sys
        printf "%s\n  wall %.1f s, %.1f pages/s; CPU %.1f s, %.2f ms per page; peak RSS %.1f MB;\n",
               name, wall, pages / wall, cpu, cpu * 1000 / pages, rss / 1024
        printf "  failed attempts %d; rows written %d\n", failed, rows
    }'
}

for scraper in "${scrapers[@]}"; do
    crawl "$scraper"
done
