#pragma once

#include "info/metadata_value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace info {

enum class ContainerFormat {
    Unknown,
    Jpeg,
    Png,
    Gif,
    WebP,
    Tiff,
    // HEIF and AVIF (EXIF from the primary image's Exif item, read through libheif) and JPEG XL (its
    // Exif box). Their decoders deliver the picture upright, so their orientation tag is information
    // only (ReadExifOrientation answers 1 for them).
    Heif,
    JpegXl,
    // A bare EXIF block handed over by a caller that took it out of its own container (HEIF, AVIF and
    // JPEG XL keep their EXIF in boxes and items that their libraries extract).
    ExifBlock,
};

// The metadata query reader: opened on a file or a buffer, it answers the imaging component's query
// paths with typed values. The container is recognised by its signature, never by the file name.
//
// Query paths are "/"-separated names, compared without regard to case:
// - EXIF and TIFF: "/app1/ifd/{ushort=274}", "/app1/ifd/exif/{ushort=33434}",
//   "/app1/ifd/gps/{ushort=2}", "/app1/ifd/exif/interop/{ushort=1}", "/app1/thumb/{ushort=259}".
//   "/app1" is the JPEG form; it is answered from the EXIF block of every container (PNG eXIf, WebP
//   EXIF, TIFF's own directories, a given block). The container-native forms "/ifd/...",
//   "/exif/ifd/..." (PNG and WebP) and "/thumb/..." are answered the same way. A "{ushort=N}" in the
//   middle of a path follows tag N as a directory pointer. "{uint=N}" is read like "{ushort=N}".
// - GIF container: "/logscrdesc/" Signature, Width, Height, GlobalColorTableFlag, ColorResolution,
//   SortFlag, GlobalColorTableSize, BackgroundColorIndex, PixelAspectRatio; "/appext/" Application,
//   Data; "/commentext/TextEntry" (the first comment of the file).
// - GIF frame: "/imgdesc/" Left, Top, Width, Height, LocalColorTableFlag, InterlaceFlag, SortFlag,
//   LocalColorTableSize; "/grctlext/" Disposal, UserInputFlag, TransparencyFlag, Delay (1/100 s),
//   TransparentColorIndex; "/commentext/TextEntry" (a comment before the frame's image).
// - PNG container: "/acTL/" NumFrames, NumPlays. PNG frame: "/fcTL/" SequenceNumber, Width, Height,
//   XOffset, YOffset, DelayNumerator, DelayDenominator, DisposeOp, BlendOp, and FrameDelay (the delay
//   in milliseconds; a zero denominator means 1/100 s).
// - WebP container: "/VP8X/" Flags, Width, Height; "/ANIM/" BackgroundColor, LoopCount. WebP frame:
//   "/ANMF/" OffsetX, OffsetY, Width, Height, Duration (ms), Disposal, Blending.
//
// Frames: GIF frames are its images in file order; APNG frames are its fcTL chunks in file order (an
// acTL after the first IDAT makes the file a still image, as the format requires); animated WebP
// frames are its ANMF chunks; TIFF frames are the directories of the IFD0 chain. Every other file has
// one frame. EXIF describes the whole file and is answered by the container and frame 0; in TIFF,
// frame N answers from directory N.
//
// A reader is used by one thread at a time. Nothing here throws for bad input: an unrecognised file
// fails to open and an unanswerable query gives an Empty value.
class MetadataReader {
public:
    MetadataReader();
    ~MetadataReader();
    MetadataReader(MetadataReader&&) noexcept;
    MetadataReader& operator=(MetadataReader&&) noexcept;
    MetadataReader(const MetadataReader&) = delete;
    MetadataReader& operator=(const MetadataReader&) = delete;

    // The file stays open until the reader is closed or destroyed.
    bool OpenFile(const std::string& path);
    // Borrows the caller's bytes, which must outlive the reader (or its next Open/Close).
    bool Open(const uint8_t* bytes, size_t size);
    // Takes an EXIF block: a TIFF header and its directories, optionally behind "Exif\0\0" or behind
    // the 4-byte offset that HEIF's EXIF items start with. The bytes are copied. HEIF, AVIF and JPEG XL
    // decoders already turn their pictures upright, so the orientation tag of such a block is for
    // display as information only, never for rotating the picture again.
    bool OpenExifBlock(const uint8_t* bytes, size_t size);
    void Close();

    bool IsOpen() const;
    ContainerFormat Format() const;
    // Frames as described above; 0 for a GIF without images, and when nothing is open.
    uint32_t FrameCount() const;

    // Container-level metadata.
    MetadataValue Query(std::string_view path) const;
    // Metadata of one frame; Empty for a frame that does not exist.
    MetadataValue QueryFrame(uint32_t frameIndex, std::string_view path) const;

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace info
