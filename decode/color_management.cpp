#include "decode/color_management.h"

#include "platform/display_profile.h"
#include "platform/settings.h"

#include <lcms2.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace decode {

namespace {

// Guards opening and closing the display profile, and every transform made from it: building a
// transform reads and caches tags of the profile, which Little CMS does not make thread-safe.
std::mutex profileMutex;
cmsHPROFILE displayProfile = nullptr; // guarded by profileMutex

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfileHandle = std::unique_ptr<void, ProfileCloser>;

struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TransformHandle = std::unique_ptr<void, TransformDeleter>;

cmsHPROFILE OpenScreenProfile() {
    const std::vector<uint8_t> bytes = platform::ReadDisplayIccProfile();
    cmsHPROFILE profile = nullptr;
    if (!bytes.empty() && bytes.size() <= UINT32_MAX) {
        profile = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    }
    return profile != nullptr ? profile : cmsCreate_sRGBProfile();
}

ProfileHandle OpenEmbeddedProfile(const uint8_t* profile, size_t profileSize) {
    if (profile == nullptr || profileSize == 0 || profileSize > UINT32_MAX) {
        return nullptr;
    }
    return ProfileHandle(cmsOpenProfileFromMem(profile, static_cast<cmsUInt32Number>(profileSize)));
}

TransformHandle CreateBgraTransform(cmsHPROFILE source, cmsUInt32Number inputFormat,
                                    cmsHPROFILE destination) {
    return TransformHandle(
        cmsCreateTransform(source, inputFormat, destination, TYPE_BGRA_8, INTENT_PERCEPTUAL, 0));
}

// Rows are converted in place; the alpha byte is never written by the transform, so it stays.
void TransformRows(cmsHTRANSFORM transform, uint8_t* pixels, uint32_t width, uint32_t height,
                   uint32_t stride) {
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        cmsDoTransform(transform, row, row, width);
    }
}

bool RasterUsable(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride) {
    return pixels != nullptr && width != 0 && height != 0 && stride >= uint64_t{width} * 4;
}

} // namespace

ColorManagement CurrentColorManagement() {
    const int32_t mode = platform::GlobalSettings().colorManagement;
    if (mode == 1 || mode == 2) {
        return static_cast<ColorManagement>(mode);
    }
    return ColorManagement::Off;
}

void OpenDisplayProfile() {
    std::lock_guard lock(profileMutex);
    if (displayProfile == nullptr) {
        displayProfile = OpenScreenProfile();
    }
}

bool OpenDisplayProfileForStartup() {
    if (CurrentColorManagement() != ColorManagement::DisplayProfile) {
        return false;
    }
    OpenDisplayProfile();
    return IsDisplayProfileOpen();
}

void CloseDisplayProfile() {
    std::lock_guard lock(profileMutex);
    if (displayProfile != nullptr) {
        cmsCloseProfile(displayProfile);
        displayProfile = nullptr;
    }
}

bool IsDisplayProfileOpen() {
    std::lock_guard lock(profileMutex);
    return displayProfile != nullptr;
}

void* CreateDestinationProfileForDecode() {
    return OpenScreenProfile();
}

bool TransformToProfile(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                        const uint8_t* profile, size_t profileSize, void* destination) {
    if (!RasterUsable(pixels, width, height, stride) || destination == nullptr) {
        return false;
    }
    const ProfileHandle source = OpenEmbeddedProfile(profile, profileSize);
    if (!source) {
        return false;
    }
    TransformHandle transform;
    {
        // The destination may be the shared display profile.
        std::lock_guard lock(profileMutex);
        transform = CreateBgraTransform(source.get(), TYPE_BGRA_8, static_cast<cmsHPROFILE>(destination));
    }
    if (!transform) {
        return false;
    }
    TransformRows(transform.get(), pixels, width, height, stride);
    return true;
}

void ApplyDisplayProfile(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                         const uint8_t* profile, size_t profileSize) {
    if (CurrentColorManagement() != ColorManagement::DisplayProfile ||
        !RasterUsable(pixels, width, height, stride)) {
        return;
    }
    const ProfileHandle source = OpenEmbeddedProfile(profile, profileSize);
    if (!source) {
        return;
    }
    TransformHandle transform;
    {
        // Checked and used under one lock so that a concurrent close cannot pull the profile away.
        std::lock_guard lock(profileMutex);
        if (displayProfile == nullptr) {
            return;
        }
        transform = CreateBgraTransform(source.get(), TYPE_BGRA_8, displayProfile);
    }
    if (transform) {
        TransformRows(transform.get(), pixels, width, height, stride);
    }
}

bool ConvertCmykToDisplay(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride,
                          const uint8_t* profile, size_t profileSize, bool inverted) {
    if (!RasterUsable(pixels, width, height, stride)) {
        return false;
    }
    const ProfileHandle source = OpenEmbeddedProfile(profile, profileSize);
    if (!source || cmsGetColorSpace(source.get()) != cmsSigCmykData) {
        return false;
    }
    const cmsUInt32Number inputFormat = inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
    TransformHandle transform;
    if (CurrentColorManagement() == ColorManagement::DisplayProfile) {
        std::lock_guard lock(profileMutex);
        if (displayProfile != nullptr) {
            transform = CreateBgraTransform(source.get(), inputFormat, displayProfile);
        }
    }
    if (!transform) {
        const ProfileHandle srgb(cmsCreate_sRGBProfile());
        if (srgb) {
            transform = CreateBgraTransform(source.get(), inputFormat, srgb.get());
        }
    }
    if (!transform) {
        return false;
    }
    // The output row goes through a buffer: input and output share the pixel size but not the layout.
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* line = pixels + static_cast<size_t>(y) * stride;
        cmsDoTransform(transform.get(), line, row.data(), width);
        for (size_t i = 0; i < row.size(); i += 4) {
            row[i + 3] = 255;
        }
        std::copy(row.begin(), row.end(), line);
    }
    return true;
}

LabToSrgb::LabToSrgb() {
    const ProfileHandle lab(cmsCreateLab4Profile(nullptr));
    const ProfileHandle srgb(cmsCreate_sRGBProfile());
    if (lab && srgb) {
        transform =
            cmsCreateTransform(lab.get(), TYPE_Lab_FLT, srgb.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
    }
}

LabToSrgb::~LabToSrgb() {
    if (transform != nullptr) {
        cmsDeleteTransform(transform);
    }
}

void LabToSrgb::Convert(const float* lab, uint8_t* bgra, uint32_t count) const {
    if (transform != nullptr && count > 0) {
        cmsDoTransform(transform, lab, bgra, count);
    }
}

} // namespace decode
