#!/usr/bin/env bash
# install_test.sh BUILD_DIR SAMPLES_DIR
# Installs the build into a temporary prefix, moves the prefix, and checks what a user gets from there:
# the program and its icons, the desktop entry, AppStream data, manual page and hicolor icons, and the
# thumbnailer on real files (a CBZ made here, an EGG, a PDF, a BPG) and on hostile ones.
set -euo pipefail
build=$1
samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved
share=$prefix/share

# The installed program, run from the moved prefix, finds its own icons folder.
version=$("$prefix/bin/skimora" --version)
[[ $version == "skimora "* ]] || fail "--version printed: $version"
grep -qxF "icons: $share/skimora/icons" <<<"$version" || fail "icons not found from the prefix: $version"
[ -s "$share/skimora/icons/skimora.png" ] && [ -s "$share/skimora/icons/skimora.svg" ] || fail "icons missing"
"$prefix/bin/skimora" --help | grep -qF -- "-sel ARCHIVE::ENTRY" || fail "--help lacks the -sel form"

# Data files pass the Debian tools.
desktop-file-validate "$share/applications/skimora.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml >/dev/null || fail "AppStream data"
grep -q '^Exec=skimora-thumbnailer -s %s %i %o$' "$share/thumbnailers/skimora.thumbnailer" || fail "thumbnailer entry"
zcat "$share/man/man1/skimora.1.gz" | grep -q SKIMORA_TRACE || fail "manual page"
png_size() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }
for size in 16 48 256; do
    [ "$(png_size "$share/icons/hicolor/${size}x${size}/apps/skimora.png")" = "${size}x${size}" ] || fail "hicolor $size"
done

# Thumbnails: status 0 and the expected size. A hung or crashed run shows as status 124 or >= 128.
thumbnail() { timeout 60 "$prefix/bin/skimora-thumbnailer" -s "$1" "$2" "$work/out.png"; }
expect_thumbnail() { # SIZE INPUT EXPECTED
    rm -f "$work/out.png"
    thumbnail "$1" "$2" || fail "thumbnail of $2: status $?"
    [ "$(png_size "$work/out.png")" = "$3" ] || fail "thumbnail of $2 is $(png_size "$work/out.png"), not $3"
}
expect_failure() { # INPUT: status 1, nothing written, peak memory under 1 GiB (GNU time's %M, in KiB)
    rm -f "$work/out.png"
    local status=0
    /usr/bin/time -f %M -o "$work/peak" timeout 60 "$prefix/bin/skimora-thumbnailer" -s 128 "$1" "$work/out.png" \
        2>/dev/null || status=$?
    [ "$status" -eq 1 ] || fail "$1: status $status, expected a clean failure"
    [ ! -e "$work/out.png" ] || fail "$1: output written"
    [ "$(tail -n 1 "$work/peak")" -lt $((1 << 20)) ] || fail "$1: peak memory $(tail -n 1 "$work/peak") KiB"
}

convert -size 900x600 gradient:red-blue "$work/page1.png"
convert -size 300x300 xc:green "$work/page2.png"
(cd "$work" && zip -q -0 book.cbz page2.png page1.png)
expect_thumbnail 128 "$work/book.cbz" 128x85 # page1.png sorts first
[ -d "$samples" ] || { echo "samples missing: only generated inputs checked"; exit 0; }
expect_thumbnail 256 "$samples/egg/eggdotnet_defaults_bz_optimized.egg" 197x256
expect_thumbnail 200 "$samples/pdf/opf_govdocs1_032270.pdf" 154x200
expect_thumbnail 128 "$samples/bpg/libbpg_bridge.bpg" 128x65

# Hostile inputs fail cleanly and soon: a truncated archive, a PNG declaring 100000 x 100000 pixels
# (alone and as a comic-book page), a file that is not what its extension says.
convert -size 1200x1200 xc:gray +noise Random "$work/noise.png"
(cd "$work" && zip -q -0 big.cbz noise.png)
head -c $(($(stat -c %s "$work/big.cbz") / 2)) "$work/big.cbz" >"$work/truncated.cbz"
python3 - "$work/bomb.png" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
rows = zlib.compress(b"\0" * (1 + 100000 * 4) * 64, 9)
header = struct.pack(">IIBBBBB", 100000, 100000, 8, 6, 0, 0, 0)
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", rows) + chunk(b"IEND", b""))
PY
cp "$work/bomb.png" "$work/page1.png"
(cd "$work" && zip -q bomb.cbz page1.png)
head -c 5000 /dev/urandom >"$work/random.jpg"
for hostile in truncated.cbz bomb.png bomb.cbz random.jpg; do
    expect_failure "$work/$hostile"
done
echo "install test passed"
