// The frame cycle of dxgraphics: clear, begin, view from the camera; end, present, and the
// frame-rate measurement. Nothing here allocates.
#include "engine/dxgraphics.h"
#include "engine/seams.h"
#include "dx/d3dx_math.h"

namespace engine {

HRESULT dxgraphics::scene_begin() {
    return call([&] {
        auto& device = com::need(declarations().d3ddevice);
        com::check(device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), L"Direct3DDevice8.Clear");
        com::check(device.BeginScene(), L"Direct3DDevice8.BeginScene");
        view_matrix = dx::matrix_look_at_lh(camera_eye, camera_target, make_vector(0, 1, 0));
        com::check(device.SetTransform(D3DTS_VIEW, view_matrix), L"Direct3DDevice8.SetTransform");
        com::check(device.SetTransform(D3DTS_WORLDMATRIX(0), world_matrix), L"Direct3DDevice8.SetTransform");
    });
}

// Ends and presents the frame, then counts it. A sample is taken at the first frame whose
// tick reading is a second or more after the last sample; the tick arithmetic is signed
// 32-bit with overflow detection, as clients of the automation runtime see it.
HRESULT dxgraphics::scene_end() {
    return call([&] {
        auto& device = com::need(declarations().d3ddevice);
        com::check(device.EndScene(), L"Direct3DDevice8.EndScene");
        com::check(device.Present(nullptr, nullptr, nullptr, nullptr), L"Direct3DDevice8.Present");
        const LONG t = static_cast<LONG>(seams::tick_count());
        const long long difference = static_cast<long long>(t) - fps_last_tick;
        if (difference < INT32_MIN || difference > INT32_MAX) com::raise(com::error_overflow);
        if (difference >= 1000) {
            fps_last_tick = static_cast<LONG>(seams::tick_count());
            FrameRate = fps_frame_count;
            if (frameratemin == 0) frameratemin = FrameRate;
            if (FrameRate > Frameratemax) Frameratemax = FrameRate;
            if (FrameRate < frameratemin) frameratemin = FrameRate;
            fps_frame_count = 0;
        }
        if (fps_frame_count == INT32_MAX) com::raise(com::error_overflow);
        ++fps_frame_count;
    });
}

}  // namespace engine
