// The engine's own cost in a frame: one frame of 100 model_draw calls of a textured model and
// two text_draw calls, made through the vtable by an early-bound C++ client, against the same
// device work done directly on a raw d3d8 device, in one run. The window is 64 x 64 so that
// Present, the same on both sides, is cheap and the difference is the engine's.
//
// The raw side draws "the same buffers" this way: it reads the same .x file with the engine's
// own parser (xfile::parse) and builds its own managed d3d8 vertex and index buffers exactly as
// the engine's mesh does (same FVF and stride, faces grouped by material in file order, 16-bit
// indices below 65536 vertices), and its texture from the same image file, decoded and
// resampled to 128 x 128 with a full mip chain by the engine's own image code. It sets the
// stream, indices and vertex shader once per frame, then per draw the world transform and per
// material the material, the texture and one DrawIndexedPrimitive, which is what a hand-written
// d3d8 program does. Its text is the same two strings in the same rectangle and alignments
// through Wine's d3dx9 ID3DXFont::DrawText (Verdana bold, the engine's default font), on a d3d9
// device of its own: that scene is timed as part of the raw frame, its Present is not (the
// raw frame already paid one Present, as the engine's does).
//
// Both devices get the engine's set-up state (lighting and z on, the same projection, view,
// one directional light). The two sides take turns in rounds of 10 frames (turns rather than
// single frames: every change of device costs a GL context switch that neither side would
// pay in a program of its own); each figure is the median over the rounds, and the ratio of
// the fastest rounds is printed too.
//
// Then the engine's own heap allocations over measured frames are counted by redirecting the
// DLL's imports of the allocation functions (allocation_counter.h).
//
// The raw side's text runs on d3dx9's own device, so a raw frame with text also pays for
// switching between two devices (two GL contexts under Wine), which the engine's single device
// does not; "models" measures frames without text only, where both sides use one device each.
//
//   frame_cost_bench [rounds [models]]      (XFILES names the folder of test.x and test.png)
//
//   frame_cost_bench --scaling [seconds]
//
// The frame points of the scaling benchmark, in one process: engine and raw d3d8 as above, one
// axis at a time: 1, 10, 100 and 800 model_draw of test.x (12 triangles) with one light; 0, 1
// and 8 lights on with 100 draws; meshes of 12, 968 and 100,352 triangles (test.x and the
// generated mesh-1000.x and mesh-100000.x in the folder SCALING_MESHES, textured with
// test.png), one draw a frame; and 1, 10 and 50 text_draw inside a frame whose edges are not
// timed, against as many ID3DXFont::DrawText. First, at 1 and 100 draws, the raw side against a
// second raw device doing the same work (axis "same"): how far apart two equal sides come out on
// the machine at hand, the floor under the other ratios. Frames without text, so the raw side
// uses one device. Each point runs rounds of up to 10 frames (fewer where a frame takes over
// 4 ms) in turn for about `seconds` (2) on each side, each round after one untimed frame that
// pays for the switch from the other side's device; the medians and the fastest rounds are
// printed, and a line of tab-separated figures after the word "frame" for the benchmark's table
// and plot.
//
//   frame_cost_bench --table N engine|raw
//
// The memory of a full table: the process opens its device, loads test.x with its texture N
// times (model_load, or raw d3d8 buffers and a texture per copy as above), draws one frame of
// all of them and prints its resident memory, after the word "table", with what it held just
// after opening the device.
#include <windows.h>
#include <d3d8.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "dx/d3dx_math.h"
#include "dx/image.h"
#include "dx/real_mesh.h"
#include "engine_client.h"
#include "frame_cost.h"
#include "proc_memory.h"
#include "raw_d3d8.h"
#include "readers/xfile/xfile.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int side = 64;
constexpr int draws_per_frame = 100;
constexpr int frames_per_round = 10;
const wchar_t* const caption = L"Frames per second: 60";
const wchar_t* const text40 = L"The quick brown fox jumps over a lazy do";
const text_item texts[2] = {{caption, DT_TOP | DT_LEFT}, {text40, DT_BOTTOM | DT_RIGHT}};
constexpr D3DCOLOR text_color = 0xFFCCCCFF;
const D3DVECTOR eye{0, 0, -5}, target{0, 0, 0};

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

HWND make_window(const wchar_t* title, int x) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"frame_cost_bench";
    RegisterClassW(&wc);
    HWND h = CreateWindowW(L"frame_cost_bench", title, WS_POPUP | WS_VISIBLE, x, 20, side, side, nullptr, nullptr,
                           wc.hInstance, nullptr);
    pump();
    return h;
}

// Milliseconds per frame of body over frames frames (frames_per_round unless told).
double time_round(const std::function<void()>& body, int frames = frames_per_round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) body();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    pump();
    return ms / frames;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double fastest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

std::wstring windows_path(const char* unix_path) {
    std::wstring path = L"Z:";
    for (const char* c = unix_path; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path;
}

// test.x on a raw d3d8 device, built as the engine's mesh and texture are built.
struct raw_model {
    ComPtr<IDirect3DVertexBuffer8> vertices;
    ComPtr<IDirect3DIndexBuffer8> indices;
    DWORD fvf = D3DFVF_XYZ;
    UINT stride = 12, vertex_count = 0;
    struct subset {
        UINT first_face = 0, face_count = 0;
    };
    std::vector<subset> subsets;
    std::vector<D3DMATERIAL8> materials;
    std::vector<ComPtr<IDirect3DTexture8>> textures;

    bool load(IDirect3DDevice8* device, const std::wstring& folder, const wchar_t* file) {
        std::vector<unsigned char> bytes;
        xfile::mesh m;
        std::string error;
        if (!dx::read_file((folder + L"\\" + file).c_str(), bytes, nullptr) ||
            !xfile::parse(bytes.data(), bytes.size(), m, error))
            return false;
        vertex_count = static_cast<UINT>(m.positions.size());
        const bool normals = !m.normals.empty(), colors = !m.colors.empty(), uv = !m.texcoords.empty();
        if (normals) fvf |= D3DFVF_NORMAL, stride += 12;
        if (colors) fvf |= D3DFVF_DIFFUSE, stride += 4;
        if (uv) fvf |= D3DFVF_TEX1, stride += 8;
        if (FAILED(device->CreateVertexBuffer(vertex_count * stride, D3DUSAGE_WRITEONLY, fvf, D3DPOOL_MANAGED,
                                              vertices.GetAddressOf())))
            return false;
        BYTE* v = nullptr;
        vertices->Lock(0, 0, &v, 0);
        for (UINT i = 0; i < vertex_count; ++i) {
            BYTE* p = v + i * stride;
            std::memcpy(p, m.positions[i].data(), 12), p += 12;
            if (normals) std::memcpy(p, m.normals[i].data(), 12), p += 12;
            if (colors) std::memcpy(p, &m.colors[i], 4), p += 4;
            if (uv) std::memcpy(p, m.texcoords[i].data(), 8);
        }
        vertices->Unlock();
        std::vector<UINT> order(m.triangles.size());
        for (UINT i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](UINT a, UINT b) { return m.attributes[a] < m.attributes[b]; });
        const bool wide = vertex_count > 0xFFFF;  // 32-bit indices, as the engine's mesh then has
        if (FAILED(device->CreateIndexBuffer(std::max<UINT>(static_cast<UINT>(order.size() * (wide ? 12 : 6)), 4),
                                             D3DUSAGE_WRITEONLY, wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                             D3DPOOL_MANAGED, indices.GetAddressOf())))
            return false;
        BYTE* ib = nullptr;
        indices->Lock(0, 0, &ib, 0);
        for (size_t f = 0; f < order.size(); ++f) {
            for (int k = 0; k < 3; ++k) {
                if (wide) reinterpret_cast<DWORD*>(ib)[f * 3 + k] = m.triangles[order[f]][k];
                else reinterpret_cast<WORD*>(ib)[f * 3 + k] = static_cast<WORD>(m.triangles[order[f]][k]);
            }
            const UINT a = m.attributes[order[f]];
            if (a >= subsets.size()) subsets.resize(a + 1, subset{static_cast<UINT>(f), 0});
            if (subsets[a].face_count == 0) subsets[a].first_face = static_cast<UINT>(f);
            ++subsets[a].face_count;
        }
        indices->Unlock();
        for (const auto& x : m.materials) {
            D3DMATERIAL8 d{};
            d.Diffuse = {x.diffuse[0], x.diffuse[1], x.diffuse[2], x.diffuse[3]};
            d.Ambient = d.Diffuse;
            d.Specular = {x.specular[0], x.specular[1], x.specular[2], 1.0f};
            d.Emissive = {x.emissive[0], x.emissive[1], x.emissive[2], 1.0f};
            d.Power = x.power;
            materials.push_back(d);
            ComPtr<IDirect3DTexture8> texture;
            if (!x.texture.empty() && !load_texture(device, folder + L"\\" + std::wstring(x.texture.begin(), x.texture.end()),
                                                    texture))
                return false;
            textures.push_back(texture);
        }
        return true;
    }

    static bool load_texture(IDirect3DDevice8* device, const std::wstring& file, ComPtr<IDirect3DTexture8>& out) {
        std::vector<unsigned char> bytes;
        dx::image picture;
        std::wstring why;
        if (!dx::read_file(file.c_str(), bytes, nullptr) || !dx::decode_image(bytes, picture, why)) return false;
        const D3DFORMAT format = picture.has_alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        if (FAILED(device->CreateTexture(128, 128, 0, 0, format, D3DPOOL_MANAGED, out.GetAddressOf()))) return false;
        dx::image level = dx::resample_linear(picture, 128, 128);
        const DWORD opaque = format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u;
        for (DWORD i = 0; i < out->GetLevelCount(); ++i) {
            if (i > 0) level = dx::resample_linear(level, std::max(1u, level.width / 2), std::max(1u, level.height / 2));
            D3DLOCKED_RECT locked{};
            if (FAILED(out->LockRect(i, &locked, nullptr, 0))) return false;
            for (UINT y = 0; y < level.height; ++y) {
                auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
                for (UINT x = 0; x < level.width; ++x) row[x] = level.pixels[size_t(y) * level.width + x] | opaque;
            }
            out->UnlockRect(i);
        }
        return true;
    }
};

// The light the benchmark adds on both sides, as light_create_directional makes it.
D3DLIGHT8 bench_light() {
    D3DLIGHT8 l{};
    l.Type = D3DLIGHT_DIRECTIONAL;
    l.Diffuse = {1, 1, 1, 0};
    l.Direction = {0.3f, -0.3f, 1};
    l.Range = 1000;
    return l;
}

// Draws the model once as a hand-written d3d8 program does, its buffers bound by the caller.
void raw_draw(IDirect3DDevice8* device, const raw_model& raw, const D3DMATRIX& world) {
    device->SetTransform(D3DTS_WORLDMATRIX(0), &world);
    for (size_t b = 0; b < raw.materials.size(); ++b) {
        device->SetMaterial(&raw.materials[b]);
        device->SetTexture(0, raw.textures[b].Get());
        if (b < raw.subsets.size() && raw.subsets[b].face_count)
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, raw.vertex_count, raw.subsets[b].first_face * 3,
                                         raw.subsets[b].face_count);
    }
}

void raw_bind(IDirect3DDevice8* device, const raw_model& raw) {
    device->SetStreamSource(0, raw.vertices.Get(), raw.stride);
    device->SetIndices(raw.indices.Get(), 0);
    device->SetVertexShader(raw.fvf);
}

// Both sides at one point: rounds in turns, the side that goes first changing each round, until
// each side has spent about `seconds` (at least 5 rounds).
struct point_figures {
    std::vector<double> engine, raw;
};
point_figures measure_point(const std::function<void()>& engine_body, const std::function<void()>& raw_body,
                            double seconds) {
    for (int i = 0; i < 2; ++i) engine_body(), raw_body(), pump();  // uploads, shaders, glyphs
    // Rounds of up to frames_per_round frames, fewer where frames are slow (large meshes), so
    // that a point gets its rounds within its time.
    const double estimate = std::max(time_round(engine_body, 1), time_round(raw_body, 1));
    const int frames = std::clamp(static_cast<int>(40 / std::max(estimate, 0.001)), 1, frames_per_round);
    // Each round starts with one untimed frame: the first frame after the other device's pays
    // for the switch between the two devices' GL contexts, which a program with one device never
    // pays, and at large meshes or few draws that switch would swamp the figures.
    point_figures f;
    double spent = 0;
    for (int r = 0; spent < 2 * seconds * 1000 || r < 5; ++r) {
        auto engine_round = [&] {
            engine_body();
            f.engine.push_back(time_round(engine_body, frames));
        };
        auto raw_round = [&] {
            raw_body();
            f.raw.push_back(time_round(raw_body, frames));
        };
        if (r % 2) {
            raw_round();
            engine_round();
        } else {
            engine_round();
            raw_round();
        }
        spent += (f.engine.back() + f.raw.back()) * frames;
        if (r >= 400) break;
    }
    return f;
}

void print_point(const char* axis, int value, const char* unit, const point_figures& f) {
    const double e = median(f.engine), r = median(f.raw);
    std::printf("%-8s %6d %-16s engine %9.3f ms  raw %9.3f ms  ratio %6.3f  fastest rounds %6.3f  (%zu rounds)\n", axis,
                value, unit, e, r, e / r, fastest(f.engine) / fastest(f.raw), f.engine.size());
    std::printf("frame\t%s\t%d\t%.6f\t%.6f\t%.6f\t%.6f\n", axis, value, e, r, fastest(f.engine), fastest(f.raw));
    std::fflush(stdout);
}

BSTR bstr(const std::wstring& s) { return SysAllocString(s.c_str()); }

// The engine's model_load of folder + "\" + name; false, with a message, when it fails.
bool engine_load(iface::_dxgraphics* g, const std::wstring& folder, const wchar_t* name) {
    BSTR path = bstr(folder + L"\\"), file = bstr(name);
    const HRESULT hr = g->model_load(&path, &file);
    SysFreeString(path);
    SysFreeString(file);
    if (FAILED(hr)) std::fprintf(stderr, "the engine cannot load %ls: 0x%08lX\n", name, static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

// The raw device in the engine's set-up state, as main() sets it up.
void raw_set_up(IDirect3DDevice8* device) {
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    const D3DMATRIX projection = dx::matrix_perspective_fov_lh(3.1415927f / 4, 1.0f, 0.1f, 5000.0f);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    D3DMATERIAL8 white{};
    white.Diffuse = white.Ambient = {1, 1, 1, 1};
    device->SetMaterial(&white);
}

// The lights of the scaling points: directional lights from eight directions, as
// light_create_directional makes them.
D3DLIGHT8 scaling_light(int i) {
    D3DLIGHT8 l = bench_light();
    l.Direction = {0.3f * (i % 3 - 1), -0.3f - 0.1f * i, 1};
    l.Diffuse = {1.0f - 0.1f * i, 1, 0.2f + 0.1f * i, 0};
    return l;
}
constexpr int scaling_lights = 8;

int run_scaling(const std::wstring& folder, const std::wstring& meshes, double seconds) {
    HWND engine_window = make_window(L"engine", 20);
    engine_client engine;
    if (!engine.open(engine_window, side, side)) return 1;
    iface::_dxgraphics* g = engine.graphics.Get();
    float ex = eye.x, ey = eye.y, ez = eye.z, tx = target.x, ty = target.y, tz = target.z;
    g->camera_position(&ex, &ey, &ez);
    g->camera_lookat(&tx, &ty, &tz);
    if (!engine_load(g, folder, L"test.x") || !engine_load(g, meshes, L"mesh-1000.x") ||
        !engine_load(g, meshes, L"mesh-100000.x"))
        return 1;
    float zero = 0;
    for (SHORT m = 0; m < 3; ++m) g->model_move(&m, &zero, &zero, &zero);
    for (int i = 0; i < scaling_lights; ++i) {
        const D3DLIGHT8 l = scaling_light(i);
        float dx_ = l.Direction.x, dy_ = l.Direction.y, dz_ = l.Direction.z;
        float r = l.Diffuse.r, gr = l.Diffuse.g, b = l.Diffuse.b;
        LONG range = 1000;
        VARIANT_BOOL on = VARIANT_TRUE;
        g->light_create_directional(&zero, &zero, &zero, &dx_, &dy_, &dz_, &r, &gr, &b, &range, &on);
    }

    HWND raw_window = make_window(L"raw d3d8", 100);
    ComPtr<IDirect3D8> d3d8;
    ComPtr<IDirect3DDevice8> device;
    if (!open_raw_d3d8(raw_window, d3d8, device)) return 1;
    raw_set_up(device.Get());
    raw_model raw[3];
    if (!raw[0].load(device.Get(), folder, L"test.x") || !raw[1].load(device.Get(), meshes, L"mesh-1000.x") ||
        !raw[2].load(device.Get(), meshes, L"mesh-100000.x")) {
        std::fprintf(stderr, "the raw side cannot load the meshes and their texture\n");
        return 1;
    }
    for (int i = 0; i < scaling_lights; ++i) {
        const D3DLIGHT8 l = scaling_light(i);
        device->SetLight(i, &l);
        device->LightEnable(i, TRUE);
    }
    d3dx9_text* d3dx9 = d3dx9_text_open(make_window(L"d3dx9", 180), -16);
    if (!d3dx9) {
        std::fprintf(stderr, "d3dx9 is not available\n");
        return 1;
    }
    // A second raw device doing the same work, measured against the first: how far apart two
    // sides doing the same work come out on this machine, the floor under every ratio below.
    ComPtr<IDirect3D8> d3d8_again;
    ComPtr<IDirect3DDevice8> again;
    raw_model raw_again;
    if (!open_raw_d3d8(make_window(L"raw d3d8 again", 260), d3d8_again, again)) return 1;
    raw_set_up(again.Get());
    if (!raw_again.load(again.Get(), folder, L"test.x")) return 1;
    for (int i = 0; i < scaling_lights; ++i) {
        const D3DLIGHT8 l = scaling_light(i);
        again->SetLight(i, &l);
        again->LightEnable(i, TRUE);
    }
    const D3DMATRIX identity = dx::matrix_identity();
    const D3DMATRIX view = dx::matrix_look_at_lh(eye, target, {0, 1, 0});
    const D3DMATRIX world = dx::matrix_translation(0, 0, 0);
    auto raw_frame_of = [&](IDirect3DDevice8* d, const raw_model& r, int draws) {
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        d->BeginScene();
        d->SetTransform(D3DTS_VIEW, &view);
        d->SetTransform(D3DTS_WORLDMATRIX(0), &identity);
        raw_bind(d, r);
        for (int i = 0; i < draws; ++i) raw_draw(d, r, world);
        d->EndScene();
        d->Present(nullptr, nullptr, nullptr, nullptr);
    };

    auto set_lights = [&](int on) {
        for (SHORT i = 0; i < scaling_lights; ++i) {
            SHORT enabled = i < on ? 1 : 0;
            g->light_switch(&enabled, &i);
            device->LightEnable(i, i < on);
            again->LightEnable(i, i < on);
        }
    };
    auto models_point = [&](const char* axis, int value, const char* unit, SHORT model, int draws) {
        auto engine_frame = [&] {
            g->scene_begin();
            for (int i = 0; i < draws; ++i) g->model_draw(&model);
            g->scene_end();
        };
        auto raw_frame = [&] { raw_frame_of(device.Get(), raw[model], draws); };
        print_point(axis, value, unit, measure_point(engine_frame, raw_frame, seconds));
    };

    std::printf("scaling frame points, %dx%d, engine against raw d3d8 (text: against d3dx9's ID3DXFont), rounds of %d "
                "frames for about %.1f s a side\n",
                side, side, frames_per_round, seconds);
    set_lights(1);
    // Two seconds of both sides' frames first: without them the first point (one draw) came out
    // at 0.78 in two runs, against 0.92 to 1.0 for the same work measured later in those runs.
    {
        SHORT first = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (std::chrono::steady_clock::now() < until) {
            g->scene_begin();
            g->model_draw(&first);
            g->scene_end();
            raw_frame_of(device.Get(), raw[0], 1);
            pump();
        }
    }
    for (int draws : {1, 100}) {
        auto first = [&] { raw_frame_of(device.Get(), raw[0], draws); };
        auto second = [&] { raw_frame_of(again.Get(), raw_again, draws); };
        print_point("same", draws, "draws, raw / raw", measure_point(second, first, seconds));
    }
    for (int draws : {1, 10, 100, 800}) models_point("draws", draws, "model_draw", 0, draws);
    for (int on : {0, 1, 8}) {
        set_lights(on);
        models_point("lights", on, "lights, 100 draws", 0, 100);
    }
    set_lights(1);
    for (SHORT m = 0; m < 3; ++m) {
        int triangles = 0;
        for (const auto& s : raw[m].subsets) triangles += static_cast<int>(s.face_count);
        models_point("mesh", triangles, "triangles, 1 draw", m, 1);
    }

    BSTR text_a = bstr(texts[0].text), text_b = bstr(texts[1].text), color = bstr(L"CCCCFF");
    SHORT top_a = 0, left_a = 0, top_b = 2, left_b = 2;
    const RECT text_rect{1, 1, side, side};
    for (int count : {1, 10, 50}) {
        std::vector<text_item> items;
        for (int i = 0; i < count; ++i) items.push_back(texts[i % 2]);
        // As at the model points, each round starts with one untimed pass.
        auto engine_texts = [&] {
            auto draw = [&] {
                for (int i = 0; i < count; ++i)
                    if (i % 2) g->text_draw(&text_b, &top_b, &left_b, &color);
                    else g->text_draw(&text_a, &top_a, &left_a, &color);
            };
            g->scene_begin();
            draw();
            const double ms = time_round(draw);
            g->scene_end();
            return ms;
        };
        auto raw_texts = [&] {
            d3dx9_text_draw(d3dx9, items.data(), count, text_rect, text_color);
            const double ms = time_round([&] { d3dx9_text_draw(d3dx9, items.data(), count, text_rect, text_color); });
            d3dx9_text_present(d3dx9);
            return ms;
        };
        for (int i = 0; i < 3; ++i) engine_texts(), raw_texts();
        point_figures f;
        double spent = 0;
        for (int r = 0; spent < 2 * seconds * 1000 || r < 5; ++r) {
            if (r % 2) f.raw.push_back(raw_texts()), f.engine.push_back(engine_texts());
            else f.engine.push_back(engine_texts()), f.raw.push_back(raw_texts());
            spent += (f.engine.back() + f.raw.back()) * frames_per_round;
            if (r >= 400) break;
        }
        print_point("text", count, "text_draw", f);
    }
    SysFreeString(text_a);
    SysFreeString(text_b);
    SysFreeString(color);
    d3dx9_text_close(d3dx9);
    for (auto& r : raw) r = raw_model{};
    raw_again = raw_model{};
    again.Reset();
    d3d8_again.Reset();
    device.Reset();
    d3d8.Reset();
    engine.close();
    return 0;
}

// The memory of a full table, as described at the top.
int run_table(const std::wstring& folder, int count, bool engine_side) {
    HWND window = make_window(engine_side ? L"engine" : L"raw d3d8", 20);
    engine_client engine;
    ComPtr<IDirect3D8> d3d8;
    ComPtr<IDirect3DDevice8> device;
    std::vector<raw_model> raw;
    double opened = 0;
    const double start = proc_status_bytes("VmRSS");
    double classes = start, roots = start, loaded = start;
    if (engine_side) {
        if (!engine.create()) return 1;
        classes = proc_status_bytes("VmRSS");
        engine.initialize();
        roots = proc_status_bytes("VmRSS");
        if (!engine.open(window, side, side)) return 1;
        iface::_dxgraphics* g = engine.graphics.Get();
        opened = proc_status_bytes("VmRSS");
        for (int i = 0; i < count; ++i)
            if (!engine_load(g, folder, L"test.x")) return 1;
        loaded = proc_status_bytes("VmRSS");
        g->scene_begin();
        for (SHORT m = 0; m < count; ++m) g->model_draw(&m);
        g->scene_end();
    } else {
        if (!open_raw_d3d8(window, d3d8, device)) return 1;
        raw_set_up(device.Get());
        opened = proc_status_bytes("VmRSS");
        raw.resize(count);
        for (auto& r : raw)
            if (!r.load(device.Get(), folder, L"test.x")) return 1;
        loaded = proc_status_bytes("VmRSS");
        const D3DMATRIX world = dx::matrix_translation(0, 0, 0);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        device->BeginScene();
        for (const auto& r : raw) raw_bind(device.Get(), r), raw_draw(device.Get(), r, world);
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    pump();
    const double resident = proc_status_bytes("VmRSS");
    std::printf("table %-6s %4d models of test.x: resident %8.1f MB, %8.1f MB after opening the device\n",
                engine_side ? "engine" : "raw", count, resident / 1e6, opened / 1e6);
    std::printf("table %-6s before the device %.1f MB: classes +%.1f, root objects +%.1f, device +%.1f, "
                "models +%.1f, frame +%.1f\n",
                engine_side ? "engine" : "raw", start / 1e6, (classes - start) / 1e6, (roots - classes) / 1e6,
                (opened - roots) / 1e6, (loaded - opened) / 1e6, (resident - loaded) / 1e6);
    std::printf("table\t%s\t%d\t%.0f\t%.0f\n", engine_side ? "engine" : "raw", count, resident, opened);
    raw.clear();
    device.Reset();
    d3d8.Reset();
    if (engine_side) engine.close();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--scaling") == 0 || std::strcmp(argv[1], "--table") == 0)) {
        const char* xfiles = getenv("XFILES");
        if (!xfiles) {
            std::fprintf(stderr, "XFILES must name the folder of test.x\n");
            return 2;
        }
        CoInitialize(nullptr);
        int status = 2;
        if (std::strcmp(argv[1], "--table") == 0 && argc >= 4) {
            status = run_table(windows_path(xfiles), std::max(1, std::atoi(argv[2])), std::strcmp(argv[3], "engine") == 0);
        } else if (std::strcmp(argv[1], "--scaling") == 0) {
            const char* meshes = getenv("SCALING_MESHES");
            if (meshes) status = run_scaling(windows_path(xfiles), windows_path(meshes), argc > 2 ? std::atof(argv[2]) : 2.0);
            else std::fprintf(stderr, "SCALING_MESHES must name the folder of mesh-1000.x and mesh-100000.x\n");
        }
        CoUninitialize();
        return status;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    // "models": only frames without text, so that the raw side never switches to d3dx9's device.
    const bool models_only = argc > 2 && std::strcmp(argv[2], "models") == 0;
    const char* xfiles = getenv("XFILES");
    if (!xfiles) {
        std::fprintf(stderr, "XFILES must name the folder of test.x\n");
        return 2;
    }
    const std::wstring folder = windows_path(xfiles);
    CoInitialize(nullptr);

    // The engine: test.x in slot 0, a directional light, the camera at (0, 0, -5).
    HWND engine_window = make_window(L"engine", 20);
    engine_client engine;
    if (!engine.open(engine_window, side, side)) return 1;
    iface::_dxgraphics* g = engine.graphics.Get();
    float ex = eye.x, ey = eye.y, ez = eye.z, tx = target.x, ty = target.y, tz = target.z;
    g->camera_position(&ex, &ey, &ez);
    g->camera_lookat(&tx, &ty, &tz);
    BSTR path = SysAllocString((folder + L"\\").c_str()), file = SysAllocString(L"test.x");
    HRESULT hr = g->model_load(&path, &file);
    SysFreeString(path);
    SysFreeString(file);
    if (FAILED(hr)) {
        std::fprintf(stderr, "the engine cannot load test.x: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    SHORT model = 0;
    float zero = 0;
    g->model_move(&model, &zero, &zero, &zero);
    {
        const D3DLIGHT8 l = bench_light();
        float px = 0, dx_ = l.Direction.x, dy_ = l.Direction.y, dz_ = l.Direction.z, one = 1;
        LONG range = 1000;
        VARIANT_BOOL on = VARIANT_TRUE;
        g->light_create_directional(&px, &px, &px, &dx_, &dy_, &dz_, &one, &one, &one, &range, &on);
    }
    BSTR text_a = SysAllocString(texts[0].text), text_b = SysAllocString(texts[1].text);
    BSTR color = SysAllocString(L"CCCCFF");
    SHORT top_a = 0, left_a = 0, top_b = 2, left_b = 2;
    auto engine_models = [&] {
        for (int i = 0; i < draws_per_frame; ++i) g->model_draw(&model);
    };
    auto engine_text = [&] {
        g->text_draw(&text_a, &top_a, &left_a, &color);
        g->text_draw(&text_b, &top_b, &left_b, &color);
    };
    auto engine_frame = [&] {
        g->scene_begin();
        engine_models();
        engine_text();
        g->scene_end();
    };
    auto engine_frame_without_text = [&] {
        g->scene_begin();
        engine_models();
        g->scene_end();
    };

    // The raw side: a d3d8 device as the engine opens its own, in the engine's set-up state.
    HWND raw_window = make_window(L"raw d3d8", 100);
    ComPtr<IDirect3D8> d3d8;
    ComPtr<IDirect3DDevice8> device;
    if (!open_raw_d3d8(raw_window, d3d8, device)) return 1;
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    const D3DMATRIX identity = dx::matrix_identity();
    const D3DMATRIX view = dx::matrix_look_at_lh(eye, target, {0, 1, 0});
    const D3DMATRIX projection = dx::matrix_perspective_fov_lh(3.1415927f / 4, 1.0f, 0.1f, 5000.0f);
    const D3DMATRIX world = dx::matrix_translation(0, 0, 0);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    {
        D3DMATERIAL8 white{};
        white.Diffuse = white.Ambient = {1, 1, 1, 1};
        device->SetMaterial(&white);
        const D3DLIGHT8 l = bench_light();
        device->SetLight(0, &l);
        device->LightEnable(0, TRUE);
    }
    raw_model raw;
    if (!raw.load(device.Get(), folder, L"test.x")) {
        std::fprintf(stderr, "the raw side cannot load test.x and its texture\n");
        return 1;
    }
    d3dx9_text* d3dx9 = d3dx9_text_open(make_window(L"d3dx9", 180), -16);
    if (!d3dx9) {
        std::fprintf(stderr, "d3dx9 is not available\n");
        return 1;
    }
    const RECT text_rect{1, 1, side, side};
    auto raw_models = [&] {
        raw_bind(device.Get(), raw);
        for (int i = 0; i < draws_per_frame; ++i) raw_draw(device.Get(), raw, world);
    };
    auto raw_begin = [&] {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        device->BeginScene();
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_WORLDMATRIX(0), &identity);
    };
    auto raw_end = [&] {
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    };
    auto raw_text = [&] { d3dx9_text_draw(d3dx9, texts, 2, text_rect, text_color); };
    // The d3d9 text device presents outside the timed frames.
    auto raw_frame = [&] {
        raw_begin();
        raw_models();
        raw_end();
        raw_text();
    };
    auto raw_frame_without_text = [&] {
        raw_begin();
        raw_models();
        raw_end();
    };

    // Warm-up: glyph caches, managed resources uploaded, shaders compiled.
    for (int i = 0; i < 20; ++i) {
        engine_frame();
        raw_frame();
        d3dx9_text_present(d3dx9);
        pump();
    }

    // Rounds of ten frames of each side; the side that goes first changes from round to round,
    // so that each pays as often for work the other left the driver to finish.
    std::vector<double> engine_full, raw_full, engine_bare, raw_bare, engine_texts, raw_texts;
    for (int r = 0; r < rounds; ++r) {
        auto engine_round = [&] {
            if (models_only) {
                engine_bare.push_back(time_round(engine_frame_without_text));
                return;
            }
            engine_full.push_back(time_round(engine_frame));
            engine_bare.push_back(time_round(engine_frame_without_text));
            // The two strings alone, inside a frame whose edges are not timed.
            g->scene_begin();
            engine_texts.push_back(time_round(engine_text));
            g->scene_end();
        };
        auto raw_round = [&] {
            if (models_only) {
                raw_bare.push_back(time_round(raw_frame_without_text));
                return;
            }
            raw_full.push_back(time_round(raw_frame));
            d3dx9_text_present(d3dx9);
            raw_bare.push_back(time_round(raw_frame_without_text));
            raw_texts.push_back(time_round(raw_text));
            d3dx9_text_present(d3dx9);
        };
        if (r % 2) {
            raw_round();
            engine_round();
        } else {
            engine_round();
            raw_round();
        }
    }

    // The engine's own allocations over measured frames.
    constexpr int counted_frames = 100;
    long allocations = -1;
    std::vector<std::pair<std::string, long>> by_function;
    std::vector<std::string> watched;
    {
        allocation_counter counter(GetModuleHandleW(L"dx8engine.dll"));
        watched = counter.watched();
        counter.reset();
        for (int i = 0; i < counted_frames; ++i) engine_frame();
        allocations = counter.total();
        by_function = counter.by_function();
    }

    const double ef = median(engine_full), rf = median(raw_full);
    const double eb = median(engine_bare), rb = median(raw_bare);
    const double et = median(engine_texts) * 1000, rt = median(raw_texts) * 1000;
    std::printf("frame of %d model_draw (test.x, %zu materials) + 2 text_draw, %dx%d, median of %d rounds of %d frames each\n",
                draws_per_frame, raw.materials.size(), side, side, rounds, frames_per_round);
    if (!models_only) {
        std::printf("frame   engine (vtable)                  %9.3f ms\n", ef);
        std::printf("frame   raw d3d8 + d3dx9 text            %9.3f ms\n", rf);
        std::printf("frame   ratio engine / raw               %9.3f   (goal: at most 1.05)\n", ef / rf);
        std::printf("frame   ratio of the fastest rounds          %9.3f   (what a busy machine adds, left out)\n",
                    fastest(engine_full) / fastest(raw_full));
    }
    std::printf("models  engine frame without text        %9.3f ms\n", eb);
    std::printf("models  raw d3d8 frame without text      %9.3f ms\n", rb);
    std::printf("models  ratio engine / raw               %9.3f\n", eb / rb);
    std::printf("models  ratio of the fastest rounds          %9.3f\n", fastest(engine_bare) / fastest(raw_bare));
    if (!models_only) {
        std::printf("text    engine 2 x text_draw             %9.1f us\n", et);
        std::printf("text    d3dx9 2 x ID3DXFont::DrawText    %9.1f us\n", rt);
        std::printf("text    ratio engine / d3dx9             %9.3f\n", et / rt);
    }
    std::printf("allocation functions watched in dx8engine.dll:");
    for (const auto& w : watched) std::printf(" %s", w.c_str());
    std::printf("\nallocations during %d measured frames: %ld\n", counted_frames, allocations);
    for (const auto& [name, count] : by_function) std::printf("  %s: %ld\n", name.c_str(), count);

    d3dx9_text_close(d3dx9);
    SysFreeString(text_a);
    SysFreeString(text_b);
    SysFreeString(color);
    raw = raw_model{};
    device.Reset();
    d3d8.Reset();
    engine.close();
    CoUninitialize();
    return 0;
}
