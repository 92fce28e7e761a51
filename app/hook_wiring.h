#pragma once

namespace sources {
struct SourceHooks;
}

// The one place where the program connects its subsystems' hooks: what the loader threads and the
// source list call in the archive and PDF modules. The window adds its own view hooks on top.
namespace app {

// Installs the loader's hooks (archive entries, PDF pages, information gathering). Before the loader
// threads start, on the UI thread.
void InstallLoaderHooks();

// Fills the container part of the source list's hooks (archives, PDF documents); the loader's and the
// window's parts are filled by them.
void ConnectContainerHooks(sources::SourceHooks& hooks);

} // namespace app
