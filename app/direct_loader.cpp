#include "app/direct_loader.h"

#include "decode/format_registry.h"
#include "platform/settings.h"
#include "platform/window_messages.h"
#include "sources/source_list.h"

namespace app {

DirectLoader::DirectLoader(uint32_t maxWidth, uint32_t maxHeight, QObject* parent)
    : QObject(parent), maxWidth(maxWidth), maxHeight(maxHeight) {}

void DirectLoader::RequestLoad() {
    if (loadQueued) {
        return;
    }
    loadQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            loadQueued = false;
            LoadCurrent();
        },
        Qt::QueuedConnection);
}

bool DirectLoader::LoadCurrent() {
    const int32_t index = sources::CurrentIndex.load();
    const sources::ItemPath path = sources::CopyItemPath(index);
    decode::DecodedImage image;
    const bool loaded =
        !path.empty() &&
        decode::LoadImageFile(path, maxWidth, maxHeight, platform::GlobalSettings().jpegHighQuality, image) &&
        decode::IsValidImage(image) && sources::CurrentIndex.load() == index;
    if (!loaded) {
        sources::NavigationPending.store(false);
        return false;
    }
    {
        std::lock_guard lock(slotMutex);
        slot = std::move(image);
    }
    platform::PostToWindow(platform::WindowMessage::ImageReady);
    return true;
}

decode::DecodedImage DirectLoader::CurrentImage() const {
    std::lock_guard lock(slotMutex);
    return slot;
}

void DirectLoader::ClearCurrentImage() {
    std::lock_guard lock(slotMutex);
    slot = {};
}

} // namespace app
