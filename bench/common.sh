# Sourced by the comparison scripts: the release build with benchmarks, built when missing.
# Sets SKIMORA_BUILD_DIR (default build/release) and ROOT.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SKIMORA_BUILD_DIR="${SKIMORA_BUILD_DIR:-$ROOT/build/release}"

# ensure_release_build TARGET... - configures (with benchmarks) and builds the named targets.
ensure_release_build() {
    "$ROOT/scripts/setup"
    if [ ! -f "$SKIMORA_BUILD_DIR/build.ninja" ]; then
        cmake -S "$ROOT" -B "$SKIMORA_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSKIMORA_BENCH=ON >/dev/null
    else
        cmake -S "$ROOT" -B "$SKIMORA_BUILD_DIR" -DSKIMORA_BENCH=ON >/dev/null
    fi
    cmake --build "$SKIMORA_BUILD_DIR" --target "$@" >/dev/null
}

# ensure_packages PACKAGE... - installs reference tools quietly when missing.
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Best of 10 wall-clock runs of a command, in milliseconds.
best_of_10() {
    local best="" start end elapsed
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        start=$EPOCHREALTIME
        "$@" >/dev/null 2>&1
        end=$EPOCHREALTIME
        elapsed=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", (e - s) * 1000 }')
        if [ -z "$best" ] || awk -v a="$elapsed" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$elapsed
        fi
    done
    echo "$best"
}
