#pragma once

#include <cstddef>
#include <cstdint>

namespace decode {

// Values of the colour-management setting.
enum class ColorManagement : int32_t {
    Off = 0,
    // The WIC-format decoder converts images with an embedded profile to the display's profile (read
    // anew for every image) while it decodes.
    DuringDecode = 1,
    // The WIC-format and JPEG decoders transform with Little CMS after decoding, to the display profile
    // opened once at start-up.
    DisplayProfile = 2,
};

ColorManagement CurrentColorManagement();

// Opens the display profile for the process (the screen's ICC profile, else built-in sRGB). Run once at
// start-up, before the loader threads start, and only when the setting is DisplayProfile then.
void OpenDisplayProfile();
// The start-up step: opens the display profile when the setting is DisplayProfile at this moment, so a
// later switch to that mode transforms nothing until the next start. True when the profile is open.
bool OpenDisplayProfileForStartup();
// Closes it again (shutdown and tests).
void CloseDisplayProfile();
bool IsDisplayProfileOpen();

// A new profile handle for the during-decode mode: the screen's profile, else sRGB.
// Read anew on every call.
void* CreateDestinationProfileForDecode(); // a cmsHPROFILE the caller closes

// Transforms a BGRA raster in place from the embedded profile to the display profile, alpha unchanged
// (perceptual intent). Does nothing unless the mode is DisplayProfile, the display profile is open and
// the embedded profile is non-empty and readable. Safe on any thread.
void ApplyDisplayProfile(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                         const uint8_t* profile, size_t profileSize);

// Transforms a BGRA raster in place from the embedded profile to `destination` (a cmsHPROFILE),
// regardless of the mode. False when the embedded profile cannot be read or no transform can be made.
bool TransformToProfile(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                        const uint8_t* profile, size_t profileSize, void* destination);

// Converts a raster of 4-byte CMYK pixels in place to opaque BGRA through the file's CMYK profile, to
// the display profile when display colour management is on and the profile is open, else to sRGB.
// `inverted`: the inks are stored inverted (255 = no ink), as Adobe applications write them. False, with
// the raster untouched, when the profile is empty, unreadable or not a CMYK profile.
bool ConvertCmykToDisplay(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                          const uint8_t* profile, size_t profileSize, bool inverted);

// Converts CIE L*a*b* (D50, floats: L* 0..100, a* and b* around 0) to sRGB through Little CMS, for images
// stored as Lab. The alpha byte of each output pixel is left as it was.
class LabToSrgb {
public:
    LabToSrgb();
    ~LabToSrgb();
    LabToSrgb(const LabToSrgb&) = delete;
    LabToSrgb& operator=(const LabToSrgb&) = delete;

    bool IsValid() const { return transform != nullptr; }
    // `lab` holds 3 floats a pixel; `bgra` 4 bytes a pixel.
    void Convert(const float* lab, uint8_t* bgra, uint32_t count) const;

private:
    void* transform = nullptr; // a cmsHTRANSFORM
};

} // namespace decode
