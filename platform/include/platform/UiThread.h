#pragma once

// Calls into the user interface from any thread are queued to the thread of the
// QCoreApplication (the UI thread) and run there by its event loop.

#include <functional>

namespace platform {

// Queues the call; it runs later on the UI thread, also when posted from the UI thread itself.
// Calls posted from one thread run in the order they were posted. False (and nothing queued)
// when there is no application object or no call. Posting while the application object is
// being destroyed is not supported.
bool PostToUiThread(std::function<void()> call);

// True on the thread of the application object; false when there is none.
bool IsUiThread();

} // namespace platform
