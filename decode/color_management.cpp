#include "decode/color_management.h"

#include "platform/display_profile.h"
#include "platform/settings.h"

#include <lcms2.h>
#include <mutex>

namespace decode {

namespace {

std::mutex profileMutex;
cmsHPROFILE displayProfile = nullptr; // guarded by profileMutex for open and close; read-only otherwise

cmsHPROFILE OpenScreenProfile() {
    const std::vector<uint8_t> bytes = platform::ReadDisplayIccProfile();
    cmsHPROFILE profile = nullptr;
    if (!bytes.empty()) {
        profile = cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
    }
    return profile != nullptr ? profile : cmsCreate_sRGBProfile();
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

void* CreateDestinationProfileForDecode() { return OpenScreenProfile(); }

bool TransformToProfile(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride, const uint8_t* profile,
                        size_t profileSize, void* destination) {
    if (pixels == nullptr || profile == nullptr || profileSize == 0 || destination == nullptr || width == 0 ||
        profileSize > UINT32_MAX) {
        return false;
    }
    cmsHPROFILE source = cmsOpenProfileFromMem(profile, static_cast<cmsUInt32Number>(profileSize));
    if (source == nullptr) {
        return false;
    }
    cmsHTRANSFORM transform = nullptr;
    {
        // Making a transform reads and caches tags of the shared display profile.
        std::lock_guard lock(profileMutex);
        transform = cmsCreateTransform(source, TYPE_BGRA_8, static_cast<cmsHPROFILE>(destination), TYPE_BGRA_8,
                                       INTENT_PERCEPTUAL, 0);
    }
    if (transform == nullptr) {
        cmsCloseProfile(source);
        return false;
    }
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        cmsDoTransform(transform, row, row, width);
    }
    cmsDeleteTransform(transform);
    cmsCloseProfile(source);
    return true;
}

void ApplyDisplayProfile(uint8_t* pixels, uint32_t width, uint32_t height, uint32_t stride, const uint8_t* profile,
                         size_t profileSize) {
    if (CurrentColorManagement() != ColorManagement::DisplayProfile || profile == nullptr || profileSize == 0) {
        return;
    }
    cmsHPROFILE destination = nullptr;
    {
        std::lock_guard lock(profileMutex);
        destination = displayProfile;
    }
    if (destination != nullptr) {
        TransformToProfile(pixels, width, height, stride, profile, profileSize, destination);
    }
}

} // namespace decode
