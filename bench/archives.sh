#!/usr/bin/env bash
# Archives opened through the viewer's own loader path: a 100-page CBZ and a 100-page solid 7z of
# 1200 x 1800 JPEG pages. Figures: open and show page 1 (both), page 100 (solid), every page in order
# (both), and `7z x` of the same solid archive into a RAM folder (one sequential pass).
# Targets: solid_all_ms <= 1.5 x seq_pass_ms; cbz_first_ms <= 100.
# Last line: cbz_first_ms=A cbz_all_ms=B solid_first_ms=C solid_p100_ms=D solid_all_ms=E seq_pass_ms=F
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages p7zip-full zip
ensure_release_build bench_archives

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-archives-XXXXXX")"
ram="$(mktemp -d /dev/shm/skimora-archives-XXXXXX)"
trap 'rm -rf "$work" "$ram"' EXIT
mkdir "$work/pages"
"$SKIMORA_BUILD_DIR/bin/bench_archives" --make-pages "$work/pages" 100
(cd "$work/pages" && zip -q -0 "$work/book.cbz" ./*.jpg)
(cd "$work/pages" && 7z a -bd -mx=5 -ms=on "$work/book.7z" ./*.jpg >/dev/null)

figures="$("$SKIMORA_BUILD_DIR/bin/bench_archives" "$work/book.cbz" "$work/book.7z")"
start=$EPOCHREALTIME
7z x -bd -y -o"$ram/out" "$work/book.7z" >/dev/null
end=$EPOCHREALTIME
seq_ms=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.0f", (e - s) * 1000 }')
echo "$figures seq_pass_ms=$seq_ms"
