#!/usr/bin/env bash
# The fitted decode (1920 x 1080) of one file per decoder family, Skimora in process (LoadImageFile,
# best of 5) against a reference decoder on the same file in the same run (best of 10):
#   webp heif avif jxl exr jp2 svg   vipsthumbnail -s 1920x1080
#   psd                              ImageMagick (vips has no Photoshop reader)
#   raw                              dcraw_emu -e (LibRaw's own tool, extracting the embedded preview
#                                    that the viewer shows first)
#   bpg                              no reference: Debian has neither a BPG encoder nor a decoder
# Inputs are 4000 x 3000 (12 MP) pictures encoded at run time from one generated source, except RAW
# (the complete Canon file of rawtran-doc, 8.2 MP, the largest real camera file Debian ships) and BPG (the
# largest sample, 1920 x 1280). Families without a dedicated decoder in this build are skipped with a
# note on stderr. Ratio = Skimora / reference; target: worst_ratio <= 1.0.
# Last line: worst_ratio=R family=F
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_packages libvips-tools imagemagick webp libheif-examples libavif-bin libjxl-tools libopenjp2-tools \
    libraw-bin rawtran-doc
ensure_release_build bench_decoders
bench="$SKIMORA_BUILD_DIR/bin/bench_decoders"

work="$(mktemp -d "${TMPDIR:-/tmp}/skimora-decoders-XXXXXX")"
trap 'rm -rf "$work"' EXIT
samples="${SKIMORA_SAMPLES:-$ROOT/../shared/samples}"

# One synthetic 12 MP picture, encoded by each family's own encoder.
convert -seed 7 -size 1000x750 plasma:fractal -blur 0x1 -resize 4000x3000! "$work/source.png"
convert "$work/source.png" "$work/source.ppm"
cwebp -quiet -q 85 "$work/source.png" -o "$work/input.webp"
heif-enc -q 60 "$work/source.png" -o "$work/input.heic" >/dev/null
avifenc -s 8 "$work/source.png" "$work/input.avif" >/dev/null
cjxl -q 85 -e 3 "$work/source.png" "$work/input.jxl" >/dev/null 2>&1
opj_compress -i "$work/source.ppm" -o "$work/input.jp2" -r 20 -n 6 >/dev/null
convert "$work/source.png" "$work/input.psd"
"$bench" --write-exr "$work/input.exr" 4000 3000
{
    echo '<svg xmlns="http://www.w3.org/2000/svg" width="4000" height="3000" viewBox="0 0 4000 3000">'
    echo '<defs><linearGradient id="g"><stop offset="0" stop-color="#204060"/><stop offset="1" stop-color="#e0a040"/></linearGradient></defs>'
    echo '<rect width="4000" height="3000" fill="url(#g)"/>'
    for i in $(seq 0 399); do
        echo "<circle cx=\"$(( (i * 97) % 4000 ))\" cy=\"$(( (i * 61) % 3000 ))\" r=\"$(( 20 + i % 180 ))\" fill=\"hsl($(( i % 360 )),60%,50%)\" fill-opacity=\"0.5\"/>"
    done
    echo '</svg>'
} >"$work/input.svg"
cp /usr/share/doc/rawtran/IMG_5952.CR2 "$work/input.cr2"
bpg_input="$samples/bpg/bpgtest_photo.bpg"

declare -A inputs=(
    [webp]="$work/input.webp" [heif]="$work/input.heic" [avif]="$work/input.avif" [jxl]="$work/input.jxl"
    [raw]="$work/input.cr2" [exr]="$work/input.exr" [jp2]="$work/input.jp2" [svg]="$work/input.svg"
    [psd]="$work/input.psd"
)
[ -f "$bpg_input" ] && inputs[bpg]="$bpg_input" || echo "bpg: sample $bpg_input missing, skipped" >&2
families=(webp heif avif jxl raw exr jp2 bpg svg psd)

arguments=()
for family in "${families[@]}"; do
    [ -n "${inputs[$family]:-}" ] && arguments+=("$family=${inputs[$family]}")
done
bench_log="$(mktemp)"
"$bench" "${arguments[@]}" >"$bench_log"
cat "$bench_log" >&2
summary="$(tail -n 1 "$bench_log")"
rm -f "$bench_log"

reference() {
    local family=$1 input=$2
    case "$family" in
        psd) best_of_10 convert "$input[0]" -thumbnail 1920x1080 "$work/reference.ppm" ;;
        raw) best_of_10 dcraw_emu -e -Z "$work/reference.thumb" "$input" ;;
        bpg) echo "" ;;
        *) best_of_10 vipsthumbnail "$input" -s 1920x1080 -o "$work/reference_%s.png" ;;
    esac
}

worst_ratio=0
worst_family=none
for family in "${families[@]}"; do
    ours="$(sed -n "s/.*\b${family}_ms=\([0-9.]*\).*/\1/p" <<<"$summary")"
    [ -z "$ours" ] && continue
    theirs="$(reference "$family" "${inputs[$family]}")"
    if [ -z "$theirs" ]; then
        echo "$family: skimora ${ours} ms (no reference decoder in Debian; not ranked)" >&2
        continue
    fi
    ratio="$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.3f", a / b }')"
    echo "$family: skimora ${ours} ms, reference ${theirs} ms, ratio ${ratio}" >&2
    if awk -v r="$ratio" -v w="$worst_ratio" 'BEGIN { exit !(r > w) }'; then
        worst_ratio=$ratio
        worst_family=$family
    fi
done
echo "worst_ratio=$worst_ratio family=$worst_family"
