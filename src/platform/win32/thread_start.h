// A thread that nobody waits for.
#pragma once

namespace repair::platform {

// Starts entry(parameter) on a new thread. False when no thread could be created; entry is
// then never called. The process ends with the thread wherever it is.
bool StartDetachedThread(void (*entry)(void*), void* parameter);

}  // namespace repair::platform
