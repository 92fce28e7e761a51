#include "app/loader_feed.h"

#include "app/hook_wiring.h"
#include "loader/loader_threads.h"

#include <mutex>

namespace app {

ImageFeed LoaderImageFeed() {
    ImageFeed feed;
    feed.connectSourceHooks = [](sources::SourceHooks& hooks) {
        loader::ConnectSourceHooks(hooks);
        ConnectContainerHooks(hooks);
    };
    feed.currentImage = [] {
        loader::ImageSlot& slot = loader::CurrentImageSlot();
        std::lock_guard lock(slot.mutex);
        return ShownImage{slot.image, slot.preview, slot.index, slot.failure};
    };
    return feed;
}

} // namespace app
