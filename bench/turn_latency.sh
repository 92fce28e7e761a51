#!/usr/bin/env bash
# Page-turn latency of the real window under Xvfb (1920 x 1080): with the next image already cached,
# wheel event to the first presented frame that shows it, median of 50 turns, in the window's default
# size and in a 1920 x 1080 window. Targets: turn_ms <= 16, turn_full_ms <= 30.
# Last line: turn_ms=A turn_full_ms=B
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_release_build bench_turn_latency
ensure_packages xvfb xauth

run() {
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" \
        "$SKIMORA_BUILD_DIR/bin/bench_turn_latency" --turns 50 "$@"
}
default="$(run "$@")"
full="$(run --window 1920x1080 "$@")"
echo "$default" | head -n 1 >&2
echo "$full" | head -n 1 >&2
turn_ms="$(echo "$default" | sed -n 's/^turn_ms=//p')"
turn_full_ms="$(echo "$full" | sed -n 's/^turn_ms=//p')"
echo "turn_ms=$turn_ms turn_full_ms=$turn_full_ms"
