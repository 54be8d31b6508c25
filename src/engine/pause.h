// The engine's only wait: capturekey's pause of the calling thread. Tests replace it to see
// when and for how long the engine pauses without waiting.
#pragma once
#include <windows.h>

#include <functional>

namespace engine {

using pause_function = std::function<void(DWORD milliseconds)>;

// Pauses the calling thread (Sleep, unless a test installed its own).
void pause(DWORD milliseconds);
// Installs a replacement; an empty one restores Sleep.
void set_pause(pause_function replacement);

}  // namespace engine
