#include "platform/settings.h"

namespace platform {

Settings& GlobalSettings() {
    static Settings settings;
    return settings;
}

} // namespace platform
