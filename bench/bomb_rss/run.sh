#!/usr/bin/env bash
# What decompression bombs cost: the synthetic site with every card answered by
# 1 GiB of zeros in the gzip or br coding, crawled by the headless executable with
# its two fetch threads, so both threads decode bombs at the same time. Prints the
# peak RSS of the whole process and how the attempts failed.
#
#     bench/bomb_rss/run.sh [gzip|br|gzip,gzip]...      (default: gzip and br)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
build=${BUILD_DIR:-build}
[ -x /usr/bin/time ] || { echo "GNU time is needed: apt-get install time" >&2; exit 1; }
scripts/setup >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-bomb.XXXXXX")
site_pid=
stop_site() {
    [ -n "$site_pid" ] && { kill "$site_pid" 2>/dev/null || true; wait "$site_pid" 2>/dev/null || true; }
    site_pid=
}
trap 'stop_site; rm -rf "$work"' EXIT

codings=("$@")
[ ${#codings[@]} -gt 0 ] || codings=(gzip br)
for c in "${codings[@]}"; do
    "$root/$build/bin/quorvel-testsite" --bomb "$c" >"$work/site.out" &
    site_pid=$!
    for _ in $(seq 1 600); do
        [ -s "$work/site.out" ] && break
        kill -0 "$site_pid" 2>/dev/null || { echo "the test site did not start" >&2; exit 1; }
        sleep 0.1
    done
    base=$(head -n 1 "$work/site.out")
    run="$work/run-$c"
    mkdir -p "$run"
    cp "$root/$build/bin/quorvel-scraper" "$run/"
    printf '%s\r\n' "Россия, Тестоград=$base" >"$run/cities.txt"
    "$root/scripts/prepare-bin" "$run"
    (cd "$run" && QUORVEL_BASE_URL="$base" /usr/bin/time -f "%e %M" -o time.txt \
        ./quorvel-scraper --headless --all --fresh </dev/null >log.txt)
    read -r wall rss_kb <"$run/time.txt"
    # One line per failed attempt ("ERROR_<reason> для <url>"); the run's line for a
    # page given up ("<url>: ERROR_<reason>") is not an attempt.
    failed=$(grep -c "ERROR_.* для " "$run/log.txt" || true)
    reason=$(sed -n 's/.*: ERROR_\(.*\) для .*/\1/p' "$run/log.txt" | sort | uniq -c | sort -rn | head -n 1 | xargs)
    awk -v c="$c" -v rss="$rss_kb" -v wall="$wall" -v failed="$failed" -v reason="$reason" \
        'BEGIN { printf "%s bomb: peak RSS %.1f MB, wall %.1f s, %d failed attempts (%s)\n",
                 c, rss / 1024, wall, failed, reason }'
    stop_site
done
