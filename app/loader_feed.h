#pragma once

#include "app/main_window.h"

namespace app {

// The main window's feed from the loader threads: their source hooks and their current-image slot.
ImageFeed LoaderImageFeed();

} // namespace app
