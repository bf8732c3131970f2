#pragma once
// Engines off the GUI thread. A backup or restore runs on a thread of its
// own while the windows go on answering input, repainting and showing the
// engine's messages. The catalog connection is used by one thread at a
// time, so the worker opens a connection of its own to the same catalog
// (the catalog's write-ahead log lets the windows read meanwhile, as they
// do beside the command-line companion) and never touches the windows'
// one; its user interface hands every call to the GUI thread.
#include <functional>

#include "engine/shared_state.h"

namespace tessel {

// Runs work on a new thread with a shared state of its own (the settings of
// `state`, its own connection to state's catalog, a GuiThreadUi over
// state.ui) and returns once the work has ended and its last status texts
// are shown. Meanwhile the calling (GUI) thread handles its events, with the
// busy cursor. An exception that leaves the work is thrown again here.
void RunOffGuiThread(SharedState& state, const std::function<void(SharedState&)>& work);

}  // namespace tessel
