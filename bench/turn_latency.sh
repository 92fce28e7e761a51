#!/usr/bin/env bash
# Page-turn latency of the real window under Xvfb (1920 x 1080): with the next image already cached,
# wheel event to the first presented frame that shows it, median of 50 turns. Target: turn_ms <= 16.
# Last line: turn_ms=A
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_release_build bench_turn_latency
ensure_packages xvfb xauth

QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$SKIMORA_BUILD_DIR/bin/bench_turn_latency" --turns 50 "$@" | tail -n 2
