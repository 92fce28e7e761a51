#!/usr/bin/env bash
# Decodes one 6000 x 4000 quality-90 JPEG photograph for a 1920 x 1080 screen: Skimora in process
# (fast path, DCT scaling to 1500 x 1000), djpeg at 1/4 scale and vipsthumbnail fitted to 1920 x 1080,
# each the best of 10 runs. Targets: ratio_djpeg <= 1.0, ratio_vips <= 0.30.
# Last line: jpeg_fit_ms=A djpeg_ms=B vips_ms=C ratio_djpeg=A/B ratio_vips=A/C
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages libjpeg-turbo-progs libvips-tools
ensure_release_build bench_jpeg

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-jpeg-XXXXXX")"
trap 'rm -rf "$work"' EXIT
photo="$work/photo.jpg"
"$SKIMORA_BUILD_DIR/bin/bench_jpeg" --write-jpeg "$photo"
echo "input: 6000x4000 quality 90, $(stat -c %s "$photo") bytes" >&2

bench_log="$(mktemp)"
"$SKIMORA_BUILD_DIR/bin/bench_jpeg" --jpeg "$photo" "$@" >"$bench_log"
cat "$bench_log" >&2
summary="$(tail -n 1 "$bench_log")"
rm -f "$bench_log"
fit_ms="$(sed -n 's/.*fit_ms=\([0-9.]*\).*/\1/p' <<<"$summary")"
full_mps="$(sed -n 's/.*full_mps=\([0-9.]*\).*/\1/p' <<<"$summary")"
djpeg_ms="$(best_of_10 djpeg -scale 1/4 -outfile /dev/null "$photo")"
vips_ms="$(best_of_10 vipsthumbnail -s 1920x1080 "$photo")"
echo "full-size decode rate: ${full_mps} MP/s" >&2
awk -v a="$fit_ms" -v b="$djpeg_ms" -v c="$vips_ms" 'BEGIN {
    printf "jpeg_fit_ms=%.2f djpeg_ms=%.2f vips_ms=%.2f ratio_djpeg=%.3f ratio_vips=%.3f\n", a, b, c, a / b, a / c
}'
