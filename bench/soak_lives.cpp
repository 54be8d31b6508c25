#include "soak_lives.h"

#include <d3d8.h>
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "dx/image.h"
#include "dx/real_mesh.h"
#include "readers/xfile/xfile.h"

using Microsoft::WRL::ComPtr;

namespace soak {
namespace {

constexpr int width = 320, height = 240;

// COM for the life's thread, uninitialised when the life ends, after everything else.
struct apartment {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~apartment() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

// A window of the life's own thread, destroyed with the life.
struct life_window {
    HWND handle = nullptr;
    life_window() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"soak";
        RegisterClassW(&wc);  // fails harmlessly once the class exists
        handle = CreateWindowW(L"soak", L"soak", WS_OVERLAPPEDWINDOW, 0, 0, width + 16, height + 39, nullptr, nullptr,
                               wc.hInstance, nullptr);
        if (handle) ShowWindow(handle, SW_SHOWNOACTIVATE);
        pump();
    }
    ~life_window() {
        if (handle) DestroyWindow(handle);
        pump();
    }
    static void pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
};

// Raises the life's failure: what was being done and the HRESULT.
struct failure {
    std::wstring what;
};

void check(HRESULT hr, const std::wstring& what) {
    if (FAILED(hr)) {
        wchar_t code[16];
        swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
        throw failure{what + L" failed: " + code};
    }
}

// Arguments of a late-bound call, in the order the client writes them, cleared afterwards.
class arguments {
public:
    arguments& operator<<(short v) { return add(VT_I2, [&](VARIANT& x) { V_I2(&x) = v; }); }
    arguments& operator<<(long v) { return add(VT_I4, [&](VARIANT& x) { V_I4(&x) = v; }); }
    arguments& operator<<(float v) { return add(VT_R4, [&](VARIANT& x) { V_R4(&x) = v; }); }
    arguments& operator<<(bool v) {
        return add(VT_BOOL, [&](VARIANT& x) { V_BOOL(&x) = v ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    arguments& operator<<(const wchar_t* v) {
        return add(VT_BSTR, [&](VARIANT& x) { V_BSTR(&x) = SysAllocString(v); });
    }
    ~arguments() {
        for (auto& v : values_) VariantClear(&v);
    }
    // The arguments as IDispatch::Invoke takes them: last one first (shallow copies, which
    // the call only reads).
    DISPPARAMS params() const {
        reversed_.assign(values_.rbegin(), values_.rend());
        return DISPPARAMS{reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
    }

private:
    template <class Fill>
    arguments& add(VARTYPE vt, Fill fill) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = vt;
        fill(v);
        values_.push_back(v);
        return *this;
    }
    std::vector<VARIANT> values_;
    mutable std::vector<VARIANT> reversed_;
};

// Calls a method or reads a property by name, as a script client does.
VARIANT late_call(IDispatch* object, const wchar_t* name, const arguments& args = arguments(),
                  WORD flags = DISPATCH_METHOD) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), std::wstring(L"GetIDsOfNames ") + name);
    DISPPARAMS params = args.params();
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &excep, nullptr);
    if (FAILED(hr)) {
        std::wstring what = name;
        if (excep.bstrDescription) what += std::wstring(L" (") + excep.bstrDescription + L")";
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        check(hr, what);
    }
    return result;
}

ComPtr<IDispatch> create_object(const wchar_t* progid) {
    CLSID clsid{};
    check(CLSIDFromProgID(progid, &clsid), std::wstring(L"CLSIDFromProgID ") + progid);
    ComPtr<IDispatch> object;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)),
          std::wstring(L"CoCreateInstance ") + progid);
    return object;
}

// The engine's way: dxmain and dxgraphics by ProgID, everything by name.
void engine_steps(const life_setup& setup, HWND window) {
    ComPtr<IDispatch> main = create_object(L"Quellbrook_dx_8engine.dxmain");
    ComPtr<IDispatch> graphics = create_object(L"Quellbrook_dx_8engine.dxgraphics");
    IDispatch* g = graphics.Get();
    late_call(main.Get(), L"initialize");
    late_call(g, L"engine_load", arguments() << static_cast<long>(reinterpret_cast<LONG_PTR>(window)));
    late_call(g, L"engine_Initialise", arguments() << short{1} << short{width} << short{height});
    VARIANT ready = late_call(g, L"Initialised", arguments(), DISPATCH_PROPERTYGET);
    if (V_VT(&ready) != VT_BOOL || !V_BOOL(&ready)) throw failure{L"the engine opened no device"};
    if (setup.steps & step_model) {
        const std::wstring folder = setup.folder.substr(0, setup.folder.size() - 1);  // joined with "\" by the engine
        late_call(g, L"model_load", arguments() << folder.c_str() << L"\\test.x");
        late_call(g, L"model_move", arguments() << short{0} << 0.0f << 0.0f << 0.0f);
    }
    if (setup.steps & step_light)
        late_call(g, L"light_create_directional",
                  arguments() << 0.0f << 10.0f << -10.0f << 0.0f << -1.0f << 1.0f << 1.0f << 1.0f << 1.0f << 1000L
                              << true);
    if (setup.steps & step_font) late_call(g, L"text_change", arguments() << short{14} << L"Arial" << true);
    if (setup.steps & step_frames)
        for (int frame = 0; frame < 3; ++frame) {
            late_call(g, L"scene_begin");
            if (setup.steps & step_model) late_call(g, L"model_draw", arguments() << short{0});
            if (setup.steps & step_font) late_call(g, L"text_draw", arguments() << L"soak frame" << short{0} << short{0});
            late_call(g, L"scene_end");
        }
    late_call(g, L"engine_end");
    late_call(main.Get(), L"engine_unload");
}

// A DLL loaded for one life, as the engine loads the platform's DLLs for its root objects.
struct loaded_library {
    HMODULE handle;
    explicit loaded_library(const wchar_t* name) : handle(LoadLibraryW(name)) {
        if (!handle) throw failure{std::wstring(L"LoadLibrary ") + name + L" failed"};
    }
    ~loaded_library() { FreeLibrary(handle); }
    template <class F>
    F symbol(const char* name) const {
        auto f = reinterpret_cast<F>(GetProcAddress(handle, name));
        if (!f) throw failure{L"a symbol of a platform DLL is missing"};
        return f;
    }
};

std::vector<unsigned char> file_bytes(const std::wstring& file) {
    std::vector<unsigned char> bytes;
    std::wstring detail;
    if (!dx::read_file(file.c_str(), bytes, &detail)) throw failure{file + L": " + detail};
    return bytes;
}

// The mesh of test.x in a vertex and an index buffer, laid out as the engine lays it out.
struct raw_mesh {
    ComPtr<IDirect3DVertexBuffer8> vertices;
    ComPtr<IDirect3DIndexBuffer8> indices;
    DWORD fvf = D3DFVF_XYZ;
    UINT stride = 12, vertex_count = 0, face_count = 0;
    D3DMATERIAL8 material{};
    std::wstring texture_name;

    raw_mesh(IDirect3DDevice8* device, const std::wstring& file) {
        const std::vector<unsigned char> bytes = file_bytes(file);
        xfile::mesh m;
        std::string error;
        if (!xfile::parse(bytes.data(), bytes.size(), m, error)) throw failure{file + L" does not parse"};
        vertex_count = static_cast<UINT>(m.positions.size());
        face_count = static_cast<UINT>(m.triangles.size());
        const bool normals = !m.normals.empty(), uv = !m.texcoords.empty();
        if (normals) fvf |= D3DFVF_NORMAL, stride += 12;
        if (uv) fvf |= D3DFVF_TEX1, stride += 8;
        check(device->CreateVertexBuffer(vertex_count * stride, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED,
                                         vertices.GetAddressOf()),
              L"CreateVertexBuffer");
        BYTE* v = nullptr;
        check(vertices->Lock(0, 0, &v, 0), L"IDirect3DVertexBuffer8::Lock");
        for (UINT i = 0; i < vertex_count; ++i) {
            BYTE* p = v + i * stride;
            std::memcpy(p, m.positions[i].data(), 12), p += 12;
            if (normals) std::memcpy(p, m.normals[i].data(), 12), p += 12;
            if (uv) std::memcpy(p, m.texcoords[i].data(), 8);
        }
        vertices->Unlock();
        check(device->CreateIndexBuffer(face_count * 6, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                        indices.GetAddressOf()),
              L"CreateIndexBuffer");
        BYTE* ib = nullptr;
        check(indices->Lock(0, 0, &ib, 0), L"IDirect3DIndexBuffer8::Lock");
        for (UINT f = 0; f < face_count; ++f)
            for (int k = 0; k < 3; ++k) reinterpret_cast<WORD*>(ib)[f * 3 + k] = static_cast<WORD>(m.triangles[f][k]);
        indices->Unlock();
        const auto& first = m.materials.front();
        material.Diffuse = material.Ambient = {first.diffuse[0], first.diffuse[1], first.diffuse[2], first.diffuse[3]};
        texture_name.assign(first.texture.begin(), first.texture.end());
    }
};

// The texture as the engine makes it: the file decoded (PNG through WIC), resampled to
// 128 x 128, every mip level from the one above, in a managed A8R8G8B8 or X8R8G8B8 texture.
ComPtr<IDirect3DTexture8> raw_texture(IDirect3DDevice8* device, const std::wstring& file) {
    dx::image picture;
    std::wstring why;
    if (!dx::decode_image(file_bytes(file), picture, why)) throw failure{file + L": " + why};
    const D3DFORMAT format = picture.has_alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
    ComPtr<IDirect3DTexture8> texture;
    check(device->CreateTexture(128, 128, 0, 0, format, D3DPOOL_MANAGED, texture.GetAddressOf()), L"CreateTexture");
    dx::image level = dx::resample_linear(picture, 128, 128);
    const DWORD opaque = format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
    for (DWORD i = 0; i < texture->GetLevelCount(); ++i) {
        if (i > 0) level = dx::resample_linear(level, std::max(1u, level.width / 2), std::max(1u, level.height / 2));
        D3DLOCKED_RECT locked{};
        check(texture->LockRect(i, &locked, nullptr, 0), L"IDirect3DTexture8::LockRect");
        for (UINT y = 0; y < level.height; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
            for (UINT x = 0; x < level.width; ++x) row[x] = level.pixels[static_cast<size_t>(y) * level.width + x] | opaque;
        }
        texture->UnlockRect(i);
    }
    return texture;
}

// The font equivalent: a GDI font drawn into a DIB section, its coverage copied into a
// managed texture (as the engine's glyph atlas is), drawn as one screen-space quad.
struct raw_text {
    struct vertex {
        float x, y, z, rhw;
        D3DCOLOR color;
        float u, v;
    };
    static constexpr DWORD fvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    static constexpr int cell_width = 128, cell_height = 32;
    ComPtr<IDirect3DTexture8> atlas;
    vertex quad[4]{};

    raw_text(IDirect3DDevice8* device, const wchar_t* text) {
        HFONT font = CreateFontW(-14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
        HDC dc = CreateCompatibleDC(nullptr);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = cell_width;
        bi.bmiHeader.biHeight = -cell_height;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = dc ? CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
        HRESULT hr = font && bitmap ? S_OK : E_OUTOFMEMORY;
        if (SUCCEEDED(hr)) {
            SelectObject(dc, font);
            SelectObject(dc, bitmap);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkMode(dc, TRANSPARENT);
            TextOutW(dc, 0, 0, text, static_cast<int>(wcslen(text)));
            GdiFlush();
            hr = device->CreateTexture(512, 512, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, atlas.GetAddressOf());
        }
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(hr)) hr = atlas->LockRect(0, &locked, nullptr, 0);
        if (SUCCEEDED(hr)) {
            for (int row = 0; row < cell_height; ++row) {
                auto* dst = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + row * locked.Pitch);
                for (int col = 0; col < cell_width; ++col) {
                    DWORD p = static_cast<const DWORD*>(bits)[row * cell_width + col];
                    dst[col] = ((p & 0xFF) << 24) | 0x00FFFFFF;
                }
            }
            atlas->UnlockRect(0);
        }
        if (dc) DeleteDC(dc);
        if (bitmap) DeleteObject(bitmap);
        if (font) DeleteObject(font);
        check(hr, L"the text texture");
        const float u = cell_width / 512.0f, v = cell_height / 512.0f;
        quad[0] = {0, 0, 0, 1, 0xFFFFFFFF, 0, 0};
        quad[1] = {cell_width, 0, 0, 1, 0xFFFFFFFF, u, 0};
        quad[2] = {0, cell_height, 0, 1, 0xFFFFFFFF, 0, v};
        quad[3] = {cell_width, cell_height, 0, 1, 0xFFFFFFFF, u, v};
    }

    void draw(IDirect3DDevice8* device) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetTexture(0, atlas.Get());
        device->SetVertexShader(fvf);
        check(device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(vertex)), L"DrawPrimitiveUP");
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
    }
};

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1;
    return m;
}

// The same work with the platform's d3d8: its DLL loaded for the life as the engine loads it,
// DirectInput made and released as dxmain.initialize and engine_unload do.
void raw_steps(const life_setup& setup, HWND window) {
    {
        loaded_library dinput(L"dinput8.dll");
        auto create = dinput.symbol<HRESULT(WINAPI*)(HINSTANCE, DWORD, REFIID, void**, IUnknown*)>("DirectInput8Create");
        ComPtr<IDirectInput8W> input;
        check(create(GetModuleHandleW(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W,
                     reinterpret_cast<void**>(input.GetAddressOf()), nullptr),
              L"DirectInput8Create");
    }
    loaded_library d3d8(L"d3d8.dll");
    ComPtr<IDirect3D8> d3d;
    *d3d.GetAddressOf() = d3d8.symbol<IDirect3D8*(WINAPI*)(UINT)>("Direct3DCreate8")(D3D_SDK_VERSION);
    if (!d3d) throw failure{L"Direct3DCreate8 failed"};
    D3DDISPLAYMODE mode{};
    check(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode), L"GetAdapterDisplayMode");
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferFormat = mode.Format;
    pp.Windowed = TRUE;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    ComPtr<IDirect3DDevice8> device;
    check(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                            device.GetAddressOf()),
          L"CreateDevice");
    IDirect3DDevice8* d = device.Get();
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    const D3DMATRIX m = identity();
    d->SetTransform(D3DTS_WORLDMATRIX(0), &m);
    d->SetTransform(D3DTS_VIEW, &m);
    d->SetTransform(D3DTS_PROJECTION, &m);

    std::unique_ptr<raw_mesh> mesh;
    ComPtr<IDirect3DTexture8> texture;
    if (setup.steps & step_model) {
        mesh = std::make_unique<raw_mesh>(d, setup.folder + L"test.x");
        if ((setup.steps & step_texture) && !mesh->texture_name.empty())
            texture = raw_texture(d, setup.folder + mesh->texture_name);
    }
    if (setup.steps & step_light) {
        D3DLIGHT8 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1, 1, 1, 0};
        light.Direction = {0, -1, 1};
        light.Range = 1000;
        check(d->SetLight(0, &light), L"SetLight");
        check(d->LightEnable(0, TRUE), L"LightEnable");
    }
    std::unique_ptr<raw_text> text;
    if (setup.steps & step_font) text = std::make_unique<raw_text>(d, L"soak frame");
    if (setup.steps & step_frames)
        for (int frame = 0; frame < 3; ++frame) {
            check(d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), L"Clear");
            check(d->BeginScene(), L"BeginScene");
            if (mesh) {
                d->SetMaterial(&mesh->material);
                d->SetTexture(0, texture.Get());
                d->SetStreamSource(0, mesh->vertices.Get(), mesh->stride);
                d->SetIndices(mesh->indices.Get(), 0);
                d->SetVertexShader(mesh->fvf);
                check(d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, mesh->vertex_count, 0, mesh->face_count),
                      L"DrawIndexedPrimitive");
            }
            if (text) text->draw(d);
            check(d->EndScene(), L"EndScene");
            check(d->Present(nullptr, nullptr, nullptr, nullptr), L"Present");
        }
    // Nothing stays bound to the device when it goes, as the engine's device wrapper does.
    if (setup.steps & step_unbind) {
        d->SetTexture(0, nullptr);
        d->SetStreamSource(0, nullptr, 0);
        d->SetIndices(nullptr, 0);
    }
}

template <class Steps>
bool run_life(const life_setup& setup, std::wstring& error, Steps steps) {
    apartment com;
    if (FAILED(com.hr)) return error = L"CoInitializeEx failed", false;
    try {
        life_window window;
        if (!window.handle) throw failure{L"no window"};
        steps(setup, window.handle);
        return true;
    } catch (const failure& f) {
        error = f.what;
        return false;
    }
}

}  // namespace

bool engine_life(const life_setup& setup, std::wstring& error) { return run_life(setup, error, engine_steps); }
bool raw_life(const life_setup& setup, std::wstring& error) { return run_life(setup, error, raw_steps); }

}  // namespace soak
