#!/usr/bin/env bash
# Fits a generated 4000 x 3000 RGBA PNG to 1920 x 1080: Skimora in process (box filter, reduced while the
# rows are decoded) against vipsthumbnail -s 1920x1080, each the best of 10 runs. Also reports the peak
# resident memory of fitting a 16000 x 12000 PNG in a fresh process. Target: ratio_vips <= 0.8.
# Last line: png_fit_ms=A vips_ms=B ratio_vips=A/B
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages libvips-tools time
ensure_release_build bench_png

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-png-XXXXXX")"
trap 'rm -rf "$work"' EXIT
bench="$SKIMORA_BUILD_DIR/bin/bench_png"
"$bench" --write-png "$work/photo.png" 4000 3000
echo "input: 4000x3000 RGBA, $(stat -c %s "$work/photo.png") bytes" >&2

"$bench" --write-png "$work/poster.png" 16000 12000
peak_kb="$(/usr/bin/time -f '%M' "$bench" --fit-once "$work/poster.png" 2>&1 >/dev/null | tail -n 1)"
echo "peak_rss_16000x12000_fit_kb=$peak_kb (file $(stat -c %s "$work/poster.png") bytes)"
rm -f "$work/poster.png"

fit_output="$("$bench" --fit "$work/photo.png")"
echo "$fit_output" >&2
fit_ms="$(sed -n 's/^png_fit_ms=\([0-9.]*\)$/\1/p' <<<"$fit_output")"
vips_ms="$(best_of_10 vipsthumbnail -s 1920x1080 -o "$work/thumbnail.jpg" "$work/photo.png")"
awk -v a="$fit_ms" -v b="$vips_ms" 'BEGIN { printf "png_fit_ms=%.2f vips_ms=%.2f ratio_vips=%.3f\n", a, b, a / b }'
