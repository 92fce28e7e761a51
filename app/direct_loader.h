#pragma once

#include "decode/decoded_image.h"

#include <QObject>

#include <cstdint>
#include <mutex>

namespace app {

// The current item decoded on the window thread. It publishes the way the background loader does
// (the image into its slot, then ImageReady posted to the window) so the window handles both alike;
// it serves where no loader threads run, and tests that need a window without background threads.
class DirectLoader : public QObject {
    Q_OBJECT

public:
    // Decodes are bounded by the screen size (0 × 0: full size).
    DirectLoader(uint32_t maxWidth, uint32_t maxHeight, QObject* parent = nullptr);

    // Decodes CurrentIndex's item once control returns to the event loop; requests made meanwhile
    // fold into that one load.
    void RequestLoad();
    // Decodes now. A failed or stale decode publishes nothing, but ends the page turn's wait
    // (NavigationPending) so that the user can move on from an unreadable item.
    bool LoadCurrent();

    // A copy of the slot: the last published image.
    decode::DecodedImage CurrentImage() const;
    void ClearCurrentImage();

private:
    uint32_t maxWidth;
    uint32_t maxHeight;
    bool loadQueued = false;
    mutable std::mutex slotMutex;
    decode::DecodedImage slot; // guarded by slotMutex
};

} // namespace app
