// The cost of animating a skinned model, in one run, on a model the benchmark makes and writes
// as a text .x file itself: a tube of 64 rings of 64 vertices (4096, 8064 triangles) with
// normals and texture coordinates, bent by a chain of 20 bones, each vertex weighted between
// the up to 4 bones nearest along the tube, under two animations of two seconds ("sway" and
// "twist") that turn and stretch every bone with rotation and translation keys every quarter
// second.
//
// 1. dxmodels.model_animate through the vtable on the loaded model, at times that step through
//    both animations, against Wine's d3dx9 doing the same work (anim_d3dx9.cpp): the frame
//    matrices interpolated from the same keys at the same times, the vertices skinned with
//    ID3DXSkinInfo::UpdateSkinnedMesh (or, where Wine's d3dx9 leaves that a stub, the loop it
//    runs, with d3dx9's vector functions) and copied into a dynamic vertex buffer of the same
//    format locked with D3DLOCK_DISCARD. The two take turns in batches of calls, each call timed
//    on its own: the median call is the figure, as a lock of a dynamic buffer under Wine now and
//    then waits for milliseconds on either side; the mean, which counts those waits, is printed
//    beside it. Before that, the skinned vertices of our
//    pose code (anim::pose on the file as our parser reads it) are checked against d3dx9's at
//    a few times: the two sides must compute the same vertices.
// 2. A frame of 50 model_animate + model_draw of one slot, each at another time, against a frame
//    of 50 model_draw of a second slot holding the same model never animated, on a 64 x 64
//    window as frame_cost_bench draws, in turns of 2 frames (a frame of 400,000 triangles takes
//    llvmpipe a fifth of a second or more).
// 3. The engine's heap allocations during model_animate calls after the first (its imports of
//    the allocation functions redirected, allocation_counter.h).
//
//   anim_bench [batches [rounds]]      (100 batches of 20 calls, 10 rounds of 2 frames)
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "anim/pose.h"
#include "anim_model.h"
#include "engine_client.h"
#include "readers/xfile/xfile.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int side = 64;
constexpr int rings = 64, around = 64, bone_count = 20;
constexpr float height = 10, radius = 1, step = height / bone_count;
constexpr int draws_per_frame = 50;
constexpr int calls_per_batch = 20;
constexpr int frames_per_round = 2;
constexpr float time_step = 0.0137f;  // between calls: every key interval gets sampled

std::array<float, 16> translation(float x, float y, float z) {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

// A unit quaternion turning by angle about the unit axis (x, y, z), as D3DXQuaternionRotationAxis.
std::array<float, 4> turn(float x, float y, float z, float angle) {
    const float s = std::sin(angle / 2);
    return {x * s, y * s, z * s, std::cos(angle / 2)};
}

anim_model make_model() {
    anim_model m;
    for (int b = 0; b < bone_count; ++b) {
        m.frames.push_back({"bone" + std::to_string(b), b - 1, translation(0, b ? step : 0, 0)});
        m.bones.push_back({translation(0, -step * b, 0), {}, {}});
    }
    constexpr float pi = 3.14159265f;
    for (int r = 0; r < rings; ++r) {
        const float y = height * r / (rings - 1);
        // Each bone weighs by how near the middle of its stretch of the tube the ring is, out to
        // two bones' lengths: four bones in the middle of the tube, fewer at its ends.
        float weight[bone_count];
        float sum = 0;
        for (int b = 0; b < bone_count; ++b) sum += weight[b] = std::max(0.0f, 1 - std::abs(y / step - b - 0.5f) / 2);
        for (int a = 0; a < around; ++a) {
            const float angle = 2 * pi * a / around;
            const DWORD index = static_cast<DWORD>(m.vertices.size());
            m.vertices.push_back({{radius * std::cos(angle), y, radius * std::sin(angle)},
                                  {std::cos(angle), 0, std::sin(angle)},
                                  {float(a) / around, float(r) / (rings - 1)}});
            for (int b = 0; b < bone_count; ++b) {
                if (weight[b] <= 0) continue;
                m.bones[b].vertices.push_back(index);
                m.bones[b].weights.push_back(weight[b] / sum);
            }
        }
    }
    // Clockwise seen from outside, the front faces of the engine's left-handed axes.
    for (int r = 0; r + 1 < rings; ++r)
        for (int a = 0; a < around; ++a) {
            const auto v = [&](int ring, int at) { return static_cast<std::uint16_t>(ring * around + at % around); };
            m.triangles.push_back({v(r, a), v(r + 1, a), v(r + 1, a + 1)});
            m.triangles.push_back({v(r, a), v(r + 1, a + 1), v(r, a + 1)});
        }
    for (const char* name : {"sway", "twist"}) {
        const bool sway = name[0] == 's';
        anim_model::animation a{name, 2, {}};
        for (int b = 0; b < bone_count; ++b) {
            anim_model::channel c;
            c.frame = b;
            for (int k = 0; k <= 8; ++k) {
                const float phase = k * 0.785f + b * 0.3f, swing = 0.15f * std::sin(phase);
                c.times.push_back(k * 0.25f);
                c.rotations.push_back(sway ? turn(0.6f, 0, 0.8f, swing) : turn(0, 1, 0, 2 * swing));
                c.translations.push_back({0, (b ? step : 0) * (1 + 0.05f * std::cos(phase)), 0});
            }
            a.channels.push_back(c);
        }
        m.animations.push_back(a);
    }
    return m;
}

// The model as a text .x file: the mesh in a frame of its own, the bones' frames nested one in
// another, each animation an AnimationSet with rotation and translation keys. A .x file stores
// a quaternion w, x, y, z, turning the other way from D3DX's: its conjugate is written.
std::string x_text(const anim_model& m) {
    std::string s = "xof 0303txt 0032\nAnimTicksPerSecond { 4800; }\n";
    char buffer[200];
    const auto add = [&](const char* format, auto... values) {
        std::snprintf(buffer, sizeof buffer, format, values...);
        s += buffer;
    };
    const auto add_matrix = [&](const std::array<float, 16>& x) {
        for (int i = 0; i < 16; ++i) add(i < 15 ? "%.8g," : "%.8g;;", x[i]);
    };
    const size_t n = m.vertices.size(), faces = m.triangles.size();
    s += "Frame body {\n FrameTransformMatrix { ";
    add_matrix(translation(0, 0, 0));
    add(" }\n Mesh tube {\n  %zu;\n", n);
    for (size_t i = 0; i < n; ++i)
        add("  %.8g;%.8g;%.8g;%s\n", m.vertices[i].position[0], m.vertices[i].position[1], m.vertices[i].position[2],
            i + 1 < n ? "," : ";");
    const auto add_faces = [&] {
        add("  %zu;\n", faces);
        for (size_t f = 0; f < faces; ++f)
            add("  3;%d,%d,%d;%s\n", m.triangles[f][0], m.triangles[f][1], m.triangles[f][2], f + 1 < faces ? "," : ";");
    };
    add_faces();
    add("  MeshNormals {\n  %zu;\n", n);
    for (size_t i = 0; i < n; ++i)
        add("  %.8g;%.8g;%.8g;%s\n", m.vertices[i].normal[0], m.vertices[i].normal[1], m.vertices[i].normal[2],
            i + 1 < n ? "," : ";");
    add_faces();
    add("  }\n  MeshTextureCoords {\n  %zu;\n", n);
    for (size_t i = 0; i < n; ++i) add("  %.8g;%.8g;%s\n", m.vertices[i].uv[0], m.vertices[i].uv[1], i + 1 < n ? "," : ";");
    add("  }\n  MeshMaterialList {\n  1;\n  %zu;\n", faces);
    for (size_t f = 0; f < faces; ++f) s += f + 1 < faces ? "  0,\n" : "  0;\n";
    s += "   Material { 0.8;0.7;0.6;1.0;; 10.0; 0.3;0.3;0.3;; 0.0;0.0;0.0;; }\n  }\n";
    add("  XSkinMeshHeader { 4; 12; %zu; }\n", m.bones.size());
    for (size_t b = 0; b < m.bones.size(); ++b) {
        const anim_model::bone& bone = m.bones[b];
        const size_t count = bone.vertices.size();
        add("  SkinWeights {\n  \"%s\";\n  %zu;\n", m.frames[b].name.c_str(), count);
        for (size_t i = 0; i < count; ++i) add(i + 1 < count ? "%lu," : "%lu;\n", bone.vertices[i]);
        for (size_t i = 0; i < count; ++i) add(i + 1 < count ? "%.8g," : "%.8g;\n", bone.weights[i]);
        s += "  ";
        add_matrix(bone.offset);
        s += "\n  }\n";
    }
    s += " }\n}\n";
    for (const anim_model::frame& f : m.frames) {
        add("Frame %s {\n FrameTransformMatrix { ", f.name.c_str());
        add_matrix(f.rest);
        s += " }\n";
    }
    s += std::string(m.frames.size(), '}') + "\n";
    for (const anim_model::animation& a : m.animations) {
        add("AnimationSet %s {\n", a.name.c_str());
        for (const anim_model::channel& c : a.channels) {
            add(" Animation {\n  { %s }\n  AnimationKey { 0; %zu;", m.frames[c.frame].name.c_str(), c.times.size());
            for (size_t k = 0; k < c.times.size(); ++k) {
                const auto& q = c.rotations[k];
                add(" %d;4;%.8g,%.8g,%.8g,%.8g;;%s", static_cast<int>(std::lround(c.times[k] * 4800)), q[3], -q[0], -q[1],
                    -q[2], k + 1 < c.times.size() ? "," : ";");
            }
            add(" }\n  AnimationKey { 2; %zu;", c.times.size());
            for (size_t k = 0; k < c.times.size(); ++k) {
                const auto& t = c.translations[k];
                add(" %d;3;%.8g,%.8g,%.8g;;%s", static_cast<int>(std::lround(c.times[k] * 4800)), t[0], t[1], t[2],
                    k + 1 < c.times.size() ? "," : ";");
            }
            s += " }\n }\n";
        }
        s += "}\n";
    }
    return s;
}

// Writes the file into a folder of the temporary folder; its folder, with a trailing "\", or
// "" when it cannot be written.
std::wstring write_model(const std::string& text) {
    wchar_t temp[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, temp)) return {};
    const std::wstring folder = std::wstring(temp) + L"anim_bench\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    HANDLE file = CreateFileW((folder + L"tube.x").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
    CloseHandle(file);
    return ok ? folder : std::wstring();
}

// The largest difference between our skinned vertices (anim::pose on the file as our parser
// reads it) and d3dx9's, over the positions and normals of every vertex at a few times of both
// animations; a negative number when the file does not read back as the model.
double largest_difference(const std::string& text, const anim_model& model, d3dx9_skinning* d3dx9) {
    readers::mesh m;
    std::string error;
    if (!xfile::parse(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), m, error) ||
        m.positions.size() != model.vertices.size()) {
        std::fprintf(stderr, "the .x file does not read back as the model: %s\n", error.c_str());
        return -1;
    }
    anim::pose pose(m);
    std::vector<anim_model::vertex> ours(model.vertices), theirs(model.vertices.size());
    double largest = 0;
    for (int a = 0; a < 2; ++a)
        for (float t : {0.0f, 0.3f, 1.1f, 1.9f}) {
            pose.animate(a, t);
            pose.skin(ours[0].position, sizeof ours[0], ours[0].normal, sizeof ours[0]);
            if (!d3dx9_skinning_to_memory(d3dx9, a, t, theirs.data())) {
                std::fprintf(stderr, "d3dx9's skinning failed\n");
                return -1;
            }
            for (size_t i = 0; i < ours.size(); ++i)
                for (int k = 0; k < 3; ++k) {
                    largest = std::max<double>(largest, std::abs(ours[i].position[k] - theirs[i].position[k]));
                    largest = std::max<double>(largest, std::abs(ours[i].normal[k] - theirs[i].normal[k]));
                }
        }
    return largest;
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

HWND make_window(const wchar_t* title, int x) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"anim_bench";
    RegisterClassW(&wc);
    HWND h = CreateWindowW(L"anim_bench", title, WS_POPUP | WS_VISIBLE, x, 20, side, side, nullptr, nullptr,
                           wc.hInstance, nullptr);
    pump();
    return h;
}

// Appends the microseconds of each of count calls of body to times.
void time_each(const std::function<void()>& body, int count, std::vector<double>& times) {
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        body();
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
}

double mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return v.empty() ? 0 : sum / v.size();
}

// Milliseconds per repetition of body over count repetitions.
double time_per(const std::function<void()>& body, int count) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) body();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / count;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double fastest(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }

// Both sides in rounds, the side that goes first changing each round.
void take_turns(int rounds, const std::function<void()>& first, const std::function<void()>& second) {
    for (int r = 0; r < rounds; ++r) {
        if (r % 2) second(), first();
        else first(), second();
        pump();
    }
}

const char* verdict(bool met) { return met ? "met" : "not met"; }

}  // namespace

int main(int argc, char** argv) {
    const int batches = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const anim_model model = make_model();
    const std::string text = x_text(model);
    const std::wstring folder = write_model(text);
    if (folder.empty()) {
        std::fprintf(stderr, "cannot write the model file\n");
        return 1;
    }
    size_t influences = 0;
    for (const auto& b : model.bones) influences += b.vertices.size();
    std::printf("model: %zu vertices, %zu triangles, %zu bones, %.2f influences a vertex, %zu animations, %zu bytes "
                "of .x text\n",
                model.vertices.size(), model.triangles.size(), model.bones.size(),
                double(influences) / model.vertices.size(), model.animations.size(), text.size());
    CoInitialize(nullptr);

    // The engine: the model in slots 0 (animated) and 1 (never animated), a light, the camera.
    engine_client engine;
    if (!engine.open(make_window(L"engine", 20), side, side)) return 1;
    iface::_dxgraphics* g = engine.graphics.Get();
    ComPtr<iface::_dxmodels> models;
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(L"Quellbrook_dx_8engine.dxmodels", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iface::IID_dxmodels,
                                reinterpret_cast<void**>(models.GetAddressOf())))) {
        std::fprintf(stderr, "cannot create dxmodels\n");
        return 1;
    }
    for (SHORT slot = 0; slot < 2; ++slot) {
        BSTR path = SysAllocString(folder.c_str()), file = SysAllocString(L"tube.x");
        const HRESULT hr = g->model_load(&path, &file);
        SysFreeString(path);
        SysFreeString(file);
        if (FAILED(hr)) {
            std::fprintf(stderr, "the engine cannot load tube.x: 0x%08lX\n", static_cast<unsigned long>(hr));
            return 1;
        }
        float zero = 0, one = 1;
        models->model_place(&slot, &zero, &zero, &zero, &zero, &zero, &zero, &one);
    }
    LONG animation_count = 0;
    SHORT animated = 0, still = 1;
    models->model_animation_count(&animated, &animation_count);
    if (animation_count != 2) {
        std::fprintf(stderr, "the engine reads %ld animations, not 2\n", static_cast<long>(animation_count));
        return 1;
    }
    {
        float ex = 0, ey = 5, ez = -16, tx = 0, ty = 5, tz = 0;
        g->camera_position(&ex, &ey, &ez);
        g->camera_lookat(&tx, &ty, &tz);
        float px = 0, dx_ = 0.3f, dy_ = -0.3f, dz_ = 1, one = 1;
        LONG range = 1000;
        VARIANT_BOOL on = VARIANT_TRUE;
        g->light_create_directional(&px, &px, &px, &dx_, &dy_, &dz_, &one, &one, &one, &range, &on);
    }

    d3dx9_skinning* d3dx9 = d3dx9_skinning_open(make_window(L"d3dx9", 100), model);
    if (!d3dx9) return 1;
    std::printf("d3dx9 skins with %s\n", d3dx9_updates_skinned_mesh(d3dx9)
                                            ? "ID3DXSkinInfo::UpdateSkinnedMesh"
                                            : "UpdateSkinnedMesh's loop (its own is a stub here): D3DXVec3TransformCoord, "
                                              "D3DXVec3TransformNormal and D3DXVec3Normalize");
    const double difference = largest_difference(text, model, d3dx9);
    if (difference < 0) return 1;
    std::printf("check   largest difference, our skinned positions and normals against d3dx9's: %.2g\n", difference);
    if (difference > 1e-3) {
        std::fprintf(stderr, "the two sides do not compute the same vertices\n");
        return 1;
    }

    // 1. model_animate against d3dx9's keys and UpdateSkinnedMesh, at the same times.
    int engine_call = 0, d3dx9_call = 0;
    float weight = 1;
    auto engine_animate = [&] {
        const int i = engine_call++;
        LONG animation = i / 400 % 2;
        float seconds = time_step * i;
        models->model_animate(&animated, &animation, &seconds, &weight);
    };
    bool d3dx9_ok = true;
    auto d3dx9_animate = [&] {
        const int i = d3dx9_call++;
        d3dx9_ok &= d3dx9_skinning_run(d3dx9, i / 400 % 2, time_step * i);
    };
    for (int i = 0; i < 50; ++i) engine_animate(), d3dx9_animate();
    std::vector<double> engine_calls, d3dx9_calls;
    take_turns(
        batches, [&] { time_each(engine_animate, calls_per_batch, engine_calls); },
        [&] { time_each(d3dx9_animate, calls_per_batch, d3dx9_calls); });
    if (!d3dx9_ok) {
        std::fprintf(stderr, "d3dx9's skinning failed\n");
        return 1;
    }

    // 2. Frames of 50 animated draws against frames of 50 draws never animated.
    int frame_call = 0;
    auto animated_frame = [&] {
        g->scene_begin();
        for (int i = 0; i < draws_per_frame; ++i) {
            LONG animation = i % 2;
            float seconds = 0.04f * i + time_step * frame_call++;
            models->model_animate(&animated, &animation, &seconds, &weight);
            g->model_draw(&animated);
        }
        g->scene_end();
    };
    auto static_frame = [&] {
        g->scene_begin();
        for (int i = 0; i < draws_per_frame; ++i) g->model_draw(&still);
        g->scene_end();
    };
    for (int i = 0; i < 2; ++i) animated_frame(), static_frame(), pump();
    std::vector<double> animated_frames, static_frames;
    take_turns(
        rounds, [&] { animated_frames.push_back(time_per(animated_frame, frames_per_round)); },
        [&] { static_frames.push_back(time_per(static_frame, frames_per_round)); });

    // 3. The engine's own allocations in model_animate after the first.
    constexpr int counted_calls = 200;
    long allocations = -1;
    std::vector<std::pair<std::string, long>> by_function;
    {
        allocation_counter counter(GetModuleHandleW(L"dx8engine.dll"));
        counter.reset();
        for (int i = 0; i < counted_calls; ++i) engine_animate();
        allocations = counter.total();
        by_function = counter.by_function();
    }

    const double ea = median(engine_calls), da = median(d3dx9_calls);
    const double af = median(animated_frames), sf = median(static_frames);
    std::printf("animate model_animate (vtable), median of %zu calls          %9.1f us  (mean %.1f us)\n",
                engine_calls.size(), ea, mean(engine_calls));
    std::printf("animate d3dx9 keys, skinning, copy into a locked buffer      %9.1f us  (mean %.1f us)\n", da,
                mean(d3dx9_calls));
    std::printf("animate ratio engine / d3dx9                                 %9.3f   (goal: at most 1, %s)\n", ea / da,
                verdict(ea <= da));
    std::printf("animate ratio of the fastest calls                           %9.3f\n",
                fastest(engine_calls) / fastest(d3dx9_calls));
    std::printf("frame   %d x (model_animate + model_draw), %dx%d             %9.3f ms\n", draws_per_frame, side, side, af);
    std::printf("frame   %d x model_draw of the model never animated          %9.3f ms\n", draws_per_frame, sf);
    std::printf("frame   ratio animated / static, median of %d rounds of %d   %9.3f   (goal: at most 2, %s)\n", rounds,
                frames_per_round, af / sf, verdict(af <= 2 * sf));
    std::printf("frame   ratio of the fastest rounds                          %9.3f\n",
                fastest(animated_frames) / fastest(static_frames));
    std::printf("allocations during %d model_animate calls after the first: %ld   (goal: 0, %s)\n", counted_calls,
                allocations, verdict(allocations == 0));
    for (const auto& [name, count] : by_function) std::printf("  %s: %ld\n", name.c_str(), count);

    d3dx9_skinning_close(d3dx9);
    models.Reset();
    engine.close();
    CoUninitialize();
    return 0;
}
