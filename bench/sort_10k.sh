#!/usr/bin/env bash
# Lists a folder of 10,000 empty image files with camera-like names and sorts it in each of the four
# orders (the open/N lines also time whole opens). Target: every figure below 50 ms.
# Last line: list_ms=A name_ms=B natural_ms=C reverse_ms=D date_ms=E
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_release_build bench_sort

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-sort-10k-XXXXXX")"
trap 'rm -rf "$work"' EXIT

"$SKIMORA_BUILD_DIR/bin/bench_sort" --folder "$work" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=false "$@"
