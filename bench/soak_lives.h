// One client life of the soak benchmark, on a thread of its own with its own apartment: the
// engine's way (late-bound through IDispatch) or the same work in raw d3d8 calls.
#pragma once
#include <windows.h>

#include <string>

namespace soak {

// The steps of a life; a kind is a set of them. The engine life opens the device, adds a
// light and a font and draws three frames in any case; the model (with its texture) is a
// step. The raw life does the same, with the texture of the model as a step of its own.
enum step : unsigned {
    step_model = 1u << 0,    // the mesh of test.x
    step_texture = 1u << 1,  // its PNG texture (the engine always loads it with the model)
    step_light = 1u << 2,
    step_font = 1u << 3,
    step_frames = 1u << 4,
    step_unbind = 1u << 5,  // raw only: textures and buffers unbound before the device goes
};
inline constexpr unsigned all_steps = step_model | step_texture | step_light | step_font | step_frames | step_unbind;

struct life_setup {
    std::wstring folder;  // where test.x and test.png lie, ending in a backslash
    unsigned steps = all_steps;
};

// Runs one life on the calling thread: COM initialised for an apartment of its own, a window,
// the steps, and everything closed and released again before COM is uninitialised. False, with
// what failed in error, when a step did not succeed.
bool engine_life(const life_setup& setup, std::wstring& error);
bool raw_life(const life_setup& setup, std::wstring& error);

}  // namespace soak
