#include "app/hook_wiring.h"

#include "loader/loader_threads.h"
#include "sources/source_list.h"

#include <utility>

namespace app {

void InstallLoaderHooks() {
    loader::LoaderHooks hooks;
    loader::SetLoaderHooks(std::move(hooks));
}

void ConnectContainerHooks(sources::SourceHooks& hooks) { (void)hooks; }

} // namespace app
