// Camera, fill modes and the float-to-bits conversion of dxgraphics.
#include "engine/dxgraphics.h"

namespace engine {

// The bit pattern of a Single as a Long, copied through a 4-byte D3DX buffer; the buffer is
// released on every way out.
LONG dxgraphics::float_to_dword(float f) {
    auto& d3dx = com::need(declarations().d3dx8);
    ComPtr<dx::D3DXBuffer> buffer;
    com::check(d3dx.CreateBuffer(4, &buffer), L"D3DX8.CreateBuffer");
    com::check(d3dx.BufferSetData(buffer.Get(), 0, 4, 1, &f), L"D3DX8.BufferSetData");
    LONG bits = 0;
    com::check(d3dx.BufferGetData(buffer.Get(), 0, 4, 1, &bits), L"D3DX8.BufferGetData");
    return bits;
}

HRESULT dxgraphics::FloatToDWord(float* f, LONG* result) {
    return call([&] {
        com::need_arguments(f, result);
        *result = float_to_dword(*f);
    });
}

// The camera only stores numbers; the frame cycle builds the view from them.
HRESULT dxgraphics::camera_position(float* x, float* y, float* z) {
    return call([&] {
        com::need_arguments(x, y, z);
        camera_eye = make_vector(*x, *y, *z);
    });
}

HRESULT dxgraphics::camera_lookat(float* x, float* y, float* z) {
    return call([&] {
        com::need_arguments(x, y, z);
        camera_target = make_vector(*x, *y, *z);
    });
}

HRESULT dxgraphics::set_fill_mode(DWORD mode) {
    return call([&] {
        com::check(com::need(declarations().d3ddevice).SetRenderState(D3DRS_FILLMODE, mode),
                   L"Direct3DDevice8.SetRenderState");
    });
}

HRESULT dxgraphics::engine_render_wireframe_mode() { return set_fill_mode(D3DFILL_WIREFRAME); }
HRESULT dxgraphics::engine_render_solid_mode() { return set_fill_mode(D3DFILL_SOLID); }
HRESULT dxgraphics::engine_render_point_mode() { return set_fill_mode(D3DFILL_POINT); }

}  // namespace engine
