#!/usr/bin/env bash
# Renders a generated 50-page PDF (text and a photograph on every page, made by mutool create): the
# first page fitted to 1920 x 1080 (best of 10, opening included) and all pages at 800 px wide (best
# of 5, opening included), in process, against mutool draw rendering the same pages at the same width
# in the same run (best of 10). Target: ratio <= 1.0.
# Last line: first_ms=A all_ms=B mutool_all_ms=C ratio=B/C
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages mupdf-tools
ensure_release_build bench_pdf

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-pdf-XXXXXX")"
trap 'rm -rf "$work"' EXIT
bench="$SKIMORA_BUILD_DIR/bin/bench_pdf"
"$bench" --write-jpeg "$work/photo.jpg" 1200 900
pages=()
for page in $(seq 1 50); do
    file="$work/page$page.txt"
    {
        echo "%%MediaBox 0 0 612 792"
        echo "%%Font Serif Times-Roman"
        echo "%%Font Sans Helvetica-Bold"
        echo "%%Image Photo photo.jpg"
        echo "BT /Sans 20 Tf 72 730 Td (Chapter $page) Tj ET"
        echo "q 468 0 0 351 72 360 cm /Photo Do Q"
        echo "BT /Serif 10 Tf 13 TL 72 330 Td"
        for line in $(seq 1 20); do
            echo "(Line $line of page $page: the quick brown fox jumps over the lazy dog, 0123456789.) '"
        done
        echo "ET"
        echo "0.2 0.4 0.8 RG 2 w 72 60 m 540 60 l S"
    } >"$file"
    pages+=("$file")
done
(cd "$work" && mutool create -o "$work/book.pdf" -O compress,compress-images "${pages[@]}")
echo "input: 50 pages, $(stat -c %s "$work/book.pdf") bytes" >&2

first_output="$("$bench" --first "$work/book.pdf")"
all_output="$("$bench" --all "$work/book.pdf" 800)"
echo "$first_output $all_output" >&2
first_ms="$(sed -n 's/^first_ms=\([0-9.]*\)$/\1/p' <<<"$first_output")"
all_ms="$(sed -n 's/^all_ms=\([0-9.]*\) .*$/\1/p' <<<"$all_output")"
# mutool draws the same 50 pages at 800 px into raw PAM written to /dev/null (no compression).
mutool_ms="$(best_of_10 mutool draw -q -w 800 -c rgba -F pam -o /dev/null "$work/book.pdf" 1-50)"
awk -v a="$first_ms" -v b="$all_ms" -v c="$mutool_ms" \
    'BEGIN { printf "first_ms=%.2f all_ms=%.2f mutool_all_ms=%.2f ratio=%.3f\n", a, b, c, b / c }'
