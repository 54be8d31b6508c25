// Device set-up and shutdown of dxgraphics.
#include "dx/d3dx_math.h"
#include "engine/dxgraphics.h"
#include "engine/seams.h"

namespace engine {
namespace {

// Whether the adapter computes fog by range. Every failing step is skipped: a failed query
// leaves the capabilities zeroed and so answers no.
bool supports_range_fog(dx::Direct3D8* d3d, BYTE adapter) {
    D3DCAPS8 caps{};
    if (d3d) d3d->GetDeviceCaps(adapter, D3DDEVTYPE_HAL, &caps);
    return (caps.RasterCaps & D3DPRASTERCAPS_FOGRANGE) != 0;
}

// Releases the model table's meshes and textures, which belong to the device being given up
// and cannot be drawn by another. Each slot stays taken and placed but draws nothing, so later
// loads go on with the next free slot.
void release_models(declarations_state& s) {
    for (model_entry& slot : *s.models) {
        slot.mesh.Reset();
        slot.textures.clear();
        slot.materials.clear();
        slot.material_count = 0;
    }
}

}  // namespace

HRESULT dxgraphics::engine_load(LONG* framehwnd) {
    return call([&] {
        com::need_arguments(framehwnd);
        frame_window = *framehwnd;
    });
}

// Opens the device. Any failure ends the set-up at its step and is shown in a modal notice;
// the call itself then succeeds, with what the earlier steps did left in place.
HRESULT dxgraphics::engine_Initialise(SHORT* window, SHORT* width, SHORT* height, VARIANT_BOOL* antialiasing_on,
                                      SHORT* antialiasing_samples, VARIANT_BOOL* fog_on, float* fog_start,
                                      float* fog_end) {
    return call([&] {
        com::need_arguments(window, width, height, antialiasing_on, antialiasing_samples, fog_on, fog_start, fog_end);
        std::wstring failure;
        try {
            set_up_device(*window, *width, *height, *antialiasing_on, *antialiasing_samples, *fog_on, *fog_start,
                          *fog_end);
            return;
        } catch (const com::error& e) {
            failure = e.description();
        } catch (const std::bad_alloc&) {
            failure = com::describe(E_OUTOFMEMORY);
        }
        seams::show_notice(failure);
    });
}

void dxgraphics::set_up_device(SHORT window, SHORT width, SHORT height, VARIANT_BOOL antialiasing_on,
                               SHORT antialiasing_samples, VARIANT_BOOL fog_on, float fog_start, float fog_end) {
    auto& s = declarations();
    auto& d3d = com::need(s.d3d8);
    D3DDISPLAYMODE mode{};
    com::check(d3d.GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), L"Direct3D8.GetAdapterDisplayMode");

    const bool windowed = window == 1;
    screen_width = width;
    screen_height = height;

    D3DPRESENT_PARAMETERS pp{};
    if (windowed) {
        pp.BackBufferFormat = mode.Format;
        pp.Windowed = TRUE;
    } else {
        pp.BackBufferWidth = static_cast<UINT>(static_cast<LONG>(width));
        pp.BackBufferHeight = static_cast<UINT>(static_cast<LONG>(height));
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.hDeviceWindow = reinterpret_cast<HWND>(static_cast<LONG_PTR>(frame_window));
    }
    pp.MultiSampleType = D3DMULTISAMPLE_NONE;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    const bool antialiased = antialiasing_on == VARIANT_TRUE;
    if (antialiased) {
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        if (antialiasing_samples >= 2 && antialiasing_samples <= 4)
            pp.MultiSampleType = static_cast<D3DMULTISAMPLE_TYPE>(antialiasing_samples);
    }

    ComPtr<dx::Direct3DDevice8> device;
    com::check(d3d.CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL,
                                reinterpret_cast<HWND>(static_cast<LONG_PTR>(frame_window)),
                                D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, &device),
               L"Direct3D8.CreateDevice");
    release_models(s);
    s.d3ddevice = device;  // the earlier device is released only now

    ComPtr<dx::D3DX8> d3dx;
    com::check(dx::create_d3dx8(d3dx), L"Creating the D3DX8 object");
    s.d3dx8 = d3dx;

    auto state = [&](D3DRENDERSTATETYPE which, DWORD value) {
        com::check(com::need(s.d3ddevice).SetRenderState(which, value), L"Direct3DDevice8.SetRenderState");
    };
    state(D3DRS_LIGHTING, TRUE);
    state(D3DRS_ZENABLE, D3DZB_TRUE);
    if (antialiased) state(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
    if (fog_on == VARIANT_TRUE) {
        state(D3DRS_FOGENABLE, TRUE);
        state(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
        state(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        state(D3DRS_RANGEFOGENABLE, supports_range_fog(s.d3d8.Get(), D3DADAPTER_DEFAULT) ? TRUE : FALSE);
        state(D3DRS_FOGSTART, static_cast<DWORD>(float_to_dword(fog_start)));
        state(D3DRS_FOGEND, static_cast<DWORD>(float_to_dword(fog_end)));
    }

    Frameratemax = 0;
    frameratemin = 0;

    auto& d = com::need(s.d3ddevice);
    world_matrix = dx::matrix_identity();
    com::check(d.SetTransform(D3DTS_WORLDMATRIX(0), world_matrix), L"Direct3DDevice8.SetTransform");
    view_matrix = dx::matrix_look_at_lh(make_vector(0, 50, 90), make_vector(0, 0, 0), make_vector(0, 1, 0));
    com::check(d.SetTransform(D3DTS_VIEW, view_matrix), L"Direct3DDevice8.SetTransform");
    const float fovy = static_cast<float>(3.1415927 / 4);
    projection_matrix = dx::matrix_perspective_fov_lh(fovy, 1.0f, 0.1f, 5000.0f);
    com::check(d.SetTransform(D3DTS_PROJECTION, projection_matrix), L"Direct3DDevice8.SetTransform");

    make_font(L"Verdana", 12, VARIANT_TRUE);
    Initialised = VARIANT_TRUE;
}

// Gives up the device and the models made on it. Releasing them here lets the device go while
// its window still exists; kept until the apartment ends, they would release it after most
// clients have destroyed their window, which Wine's Direct3D answers by making a window of its
// own from its command thread, and that stalls when other threads are drawing at the same time.
// The font, the D3DX object and everything else stay.
HRESULT dxgraphics::engine_end() {
    return call([&] {
        auto& s = declarations();
        release_models(s);
        s.d3ddevice.Reset();
    });
}

}  // namespace engine
