#!/usr/bin/env bash
# Page turns with the real loader threads over 100 generated 4000 x 3000 JPEGs on a 1920 x 1080 screen:
# the cost of a turn served from the cache, paging forward at 5 turns a second for 60 turns after a 1 s
# head start (share of turns whose full image was ready within 50 ms, median time to the full image),
# and the peak RSS while paging 300 turns. Targets: cache_hit_us <= 1000, ready_share >= 0.95, peak RSS
# within the memory the cache may hold plus 150 MB (printed on the line before the last).
# Last line: cache_hit_us=A ready_share=B median_full_ms=C peak_rss_mb=D
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_release_build bench_page_turns

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-turns-XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$SKIMORA_BUILD_DIR/bin/bench_page_turns" --images 100 --folder "$work" "$@"
