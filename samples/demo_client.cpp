// The demo client: the whole engine as a C++ program drives it through the dual interfaces.
// It lists the display modes, opens a device on a window of its own, loads a small scene of
// our own models (samples/assets), lights it with a directional, a spot and a point light and
// an ambient level, circles the camera round it, draws text at five alignments and reads the
// keyboard through dxinput's events, on a thread of its own so that the frames never wait for
// it. Through dxmodels, by the clock, a skinned figure in the middle of the scene waves and
// walks in turn, crossfading between the two, and one crate turns:
//
//   W wireframe, S solid, P points, L switches the white light off and on, Escape quits.
//
//   demo_client [seconds [picture-folder]]
//
// It ends after the given number of seconds (20 when left out) or on Escape. With a picture
// folder it saves the window as it shows on the screen, once for each state it reaches (fill
// mode and light), as solid.png, wireframe.png, point.png, solid-light-off.png and so on, and
// prints "picture: NAME PATH" for each. Exit code 0 when every engine call succeeded.
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine_client.h"
#include "screen_picture.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr SHORT screen_width = 640, screen_height = 480;
constexpr wchar_t window_title[] = L"Quellbrook dx 8engine demo";

// DirectInput key codes.
constexpr LONG key_escape = 1, key_w = 17, key_p = 25, key_s = 31, key_l = 38;

bool window_open = true;

LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CLOSE) window_open = false;
    return DefWindowProcW(hwnd, message, w, l);
}

std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// The description the engine attached to its last failing call, or the system's wording.
std::string describe_failure(HRESULT hr) {
    ComPtr<IErrorInfo> info;
    BSTR description = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && SUCCEEDED(info->GetDescription(&description)) && description) {
        std::string text = narrow(description);
        SysFreeString(description);
        if (!text.empty()) return text;
    }
    wchar_t buffer[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0,
                   buffer, 256, nullptr);
    std::string text = narrow(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text.empty() ? "no description" : text;
}

// Checks the result of each engine call. A failure is printed with the engine's description
// once per call site, so a frame loop that keeps failing does not flood the output; the demo
// carries on and reports the count at the end. Both the frame loop and the keyboard thread
// use it.
class call_check {
public:
    bool operator()(HRESULT hr, const std::string& what) {
        if (SUCCEEDED(hr)) return true;
        std::lock_guard<std::mutex> lock(mutex_);
        ++failures_;
        if (reported_.insert(what).second) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
            std::string description = describe_failure(hr);
            // The engine's descriptions of platform failures carry the code already.
            if (description.find(code) == std::string::npos) description += std::string(" (") + code + ")";
            std::printf("demo: %s failed: %s\n", what.c_str(), description.c_str());
        }
        std::fflush(stdout);
        return false;
    }
    int failures() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failures_;
    }

private:
    std::mutex mutex_;
    std::set<std::string> reported_;
    int failures_ = 0;
};

call_check ok;

// A BSTR for the length of one call.
class bstr {
public:
    explicit bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~bstr() { SysFreeString(b_); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    BSTR* operator&() { return &b_; }

private:
    BSTR b_;
};

// The sink of dxinput's events: keydown (DISPID 2) and keyup (DISPID 1), one Long by
// reference. It only records them, on the keyboard thread, during capturekey.
class key_sink final : public IDispatch {
public:
    struct event {
        bool down;
        LONG code;
    };
    std::vector<event> events;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iface::DIID_dxinput_events) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (!params || params->cArgs != 1 || params->rgvarg[0].vt != (VT_I4 | VT_BYREF)) return DISP_E_BADPARAMCOUNT;
        if (id == 1 || id == 2) events.push_back({id == 2, *params->rgvarg[0].plVal});
        return S_OK;
    }

private:
    ULONG refs_ = 0;  // lives on the keyboard thread's stack
};

// Prints the adapter's display modes, grouped by size: "1024 x 768: format 22 at 60 Hz, ...".
void print_display_modes(iface::_dxgraphics* g) {
    if (!ok(g->engine_get_display_modes(), "engine_get_display_modes")) return;
    LONG count = 0;
    g->get_numberofmodes(&count);
    std::printf("display modes: %ld\n", static_cast<long>(count));
    std::string size_shown, line;
    for (SHORT i = 0; i < count; ++i) {
        BSTR w = nullptr, h = nullptr, depth = nullptr, hz = nullptr;
        SHORT n = i;
        bool read = ok(g->engine_show_display_modes_width(&n, &w), "engine_show_display_modes_width") &&
                    ok(g->engine_show_display_modes_height(&n, &h), "engine_show_display_modes_height") &&
                    ok(g->engine_show_display_modes_depth(&n, &depth), "engine_show_display_modes_depth") &&
                    ok(g->engine_show_display_modes_hertz(&n, &hz), "engine_show_display_modes_hertz");
        if (read && w && *w) {
            std::string size = narrow(w) + " x " + narrow(h);
            std::string mode = "format " + narrow(depth) + " at " + narrow(hz) + " Hz";
            if (size != size_shown) {
                if (!line.empty()) std::printf("  %s\n", line.c_str());
                line = size + ": " + mode;
                size_shown = size;
            } else {
                line += ", " + mode;
            }
        }
        SysFreeString(w);
        SysFreeString(h);
        SysFreeString(depth);
        SysFreeString(hz);
    }
    if (!line.empty()) std::printf("  %s\n", line.c_str());
}

// The folder holding this program, with a final backslash.
std::wstring program_folder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

struct placed_model {
    const wchar_t* file;
    float x, y, z;
};

// The scene: slots are taken in the order of loading, from 0. The crate is there twice, once
// from its .x file and once from a glTF file, in two slots at different places.
constexpr placed_model scene[] = {
    {L"ground.x", 0, 0, 0},
    {L"crate.x", -2.5f, 1, 0.5f},     // turns about its upright axis
    {L"crate.gltf", -0.2f, 1, 3.2f},  // the same box, from a glTF file that holds its image
    {L"ball.x", 2.6f, 1.2f, -0.6f},
    {L"figure.x", 0.2f, 0, -0.2f},    // stands on the ground between the others, 2.8 units tall
};
constexpr SHORT turning_crate = 1, figure = 4;
constexpr float crate_degrees_per_second = 45;

// The figure waves for 4 seconds (two waves), then walks on the spot for 4, and so on; each
// change crossfades over half a second.
constexpr float figure_phase = 4, figure_crossfade = 0.5f;

// The figure's animations, found by name so that their order in the file does not matter; -1
// where the figure has no such animation (or did not load), which leaves it unanimated.
struct figure_animations {
    LONG wave = -1, walk = -1;
};

figure_animations find_figure_animations(iface::_dxmodels* models) {
    figure_animations found;
    SHORT index = figure;
    LONG count = 0;
    if (!ok(models->model_animation_count(&index, &count), "model_animation_count")) return found;
    for (LONG a = 0; a < count; ++a) {
        BSTR name = nullptr;
        float length = 0;
        if (!ok(models->model_animation_name(&index, &a, &name), "model_animation_name")) continue;
        ok(models->model_animation_length(&index, &a, &length), "model_animation_length");
        const std::string text = narrow(name ? name : L"");
        SysFreeString(name);
        std::printf("figure: animation %ld \"%s\", %g s\n", static_cast<long>(a), text.c_str(), length);
        if (text == "wave") found.wave = a;
        if (text == "walk") found.walk = a;
    }
    return found;
}

// Turns the crate and poses the figure for the time t in seconds since the start.
void move_models(iface::_dxmodels* models, const figure_animations& figure_clips, float t) {
    {
        const placed_model& c = scene[turning_crate];
        SHORT index = turning_crate;
        float x = c.x, y = c.y, z = c.z, pitch = 0, yaw = std::fmod(t * crate_degrees_per_second, 360.0f), roll = 0,
              scale = 1;
        ok(models->model_place(&index, &x, &y, &z, &pitch, &yaw, &roll, &scale), "model_place crate");
    }
    const placed_model& f = scene[figure];
    SHORT index = figure;
    // The figure's front is -z; yaw -51 degrees turns it to (0.78, 0, -0.62), towards where the
    // white light comes from, so that the camera sees its lit front as it comes round.
    float x = f.x, y = f.y, z = f.z, pitch = 0, yaw = -51, roll = 0, scale = 1;
    ok(models->model_place(&index, &x, &y, &z, &pitch, &yaw, &roll, &scale), "model_place figure");
    if (figure_clips.wave < 0 || figure_clips.walk < 0) return;
    // The wave's weight: 1 through the waving phase, 0 through the walking one, changing over
    // figure_crossfade seconds at the start of each.
    const float phase = std::fmod(t, 2 * figure_phase);
    const float wave = phase < figure_phase ? std::fmin(1.0f, phase / figure_crossfade)
                                            : std::fmax(0.0f, 1 - (phase - figure_phase) / figure_crossfade);
    float seconds = t, full = 1, weight = wave;
    LONG walk = figure_clips.walk, waving = figure_clips.wave;
    if (wave < 1) ok(models->model_animate(&index, &walk, &seconds, &full), "model_animate walk");
    if (wave > 0) ok(models->model_animate(&index, &waving, &seconds, &weight), "model_animate wave");
}

// Loads and places the scene's models; returns how many slots were taken.
SHORT load_scene(iface::_dxgraphics* g, const std::wstring& assets) {
    SHORT slot = 0;
    for (const auto& m : scene) {
        bstr folder(assets), file(m.file);
        const std::string what = "model_load " + narrow(m.file);
        ok(g->model_load(&folder, &file), what);  // a failed load takes its slot all the same
        float x = m.x, y = m.y, z = m.z;
        ok(g->model_move(&slot, &x, &y, &z), "model_move " + narrow(m.file));
        ++slot;
    }
    return slot;
}

// Light 0 is the white directional light that L switches; 1 is a blue spot over the middle
// of the scene, 2 an orange point light beside the ball.
void light_scene(iface::_dxgraphics* g) {
    VARIANT_BOOL on = VARIANT_TRUE;
    {
        float px = 0, py = 10, pz = 0, dx = -0.5f, dy = -1, dz = 0.4f, r = 0.8f, gr = 0.8f, b = 0.75f;
        LONG range = 1000;
        ok(g->light_create_directional(&px, &py, &pz, &dx, &dy, &dz, &r, &gr, &b, &range, &on),
           "light_create_directional");
    }
    {
        float px = 0, py = 8, pz = 0, dx = 0, dy = -1, dz = 0, r = 0.3f, gr = 0.5f, b = 1;
        LONG inner = 25, outer = 50, range = 30;
        ok(g->light_create_spot(&px, &py, &pz, &dx, &dy, &dz, &r, &gr, &b, &inner, &outer, &range, &on),
           "light_create_spot");
    }
    {
        float px = 4.5f, py = 2, pz = -3, range = 12, attenuation = 0.3f, r = 1, gr = 0.45f, b = 0.15f;
        ok(g->light_create_point(&px, &py, &pz, &range, &attenuation, &r, &gr, &b, &on), "light_create_point");
    }
    bstr ambient(L"282828");
    ok(g->light_ambience(&ambient), "light_ambience");
}

void text(iface::_dxgraphics* g, const std::wstring& s, SHORT top, SHORT left, const wchar_t* color) {
    bstr t(s), c(color);
    ok(g->text_draw(&t, &top, &left, &c), "text_draw");
}

struct demo_state {
    std::string fill = "solid";
    bool light_on = true;
    std::string name() const { return light_on ? fill : fill + "-light-off"; }
};

// Acts on the key events of one capturekey. keydown repeats at every poll while a key is
// held, so each key acts once when it goes down and again only after its keyup.
bool handle_keys(iface::_dxgraphics* g, std::vector<key_sink::event>& events, std::set<LONG>& held, demo_state& state) {
    bool quit = false;
    for (const auto& e : events) {
        if (!e.down) {
            held.erase(e.code);
            continue;
        }
        if (!held.insert(e.code).second) continue;
        switch (e.code) {
            case key_w:
                if (ok(g->engine_render_wireframe_mode(), "engine_render_wireframe_mode")) state.fill = "wireframe";
                break;
            case key_s:
                if (ok(g->engine_render_solid_mode(), "engine_render_solid_mode")) state.fill = "solid";
                break;
            case key_p:
                if (ok(g->engine_render_point_mode(), "engine_render_point_mode")) state.fill = "point";
                break;
            case key_l: {
                SHORT enabled = state.light_on ? 0 : -1, index = 0;
                if (ok(g->light_switch(&enabled, &index), "light_switch")) state.light_on = !state.light_on;
                break;
            }
            case key_escape:
                quit = true;
                break;
        }
        std::printf("key %ld: fill %s, light %s\n", static_cast<long>(e.code), state.fill.c_str(),
                    state.light_on ? "on" : "off");
        std::fflush(stdout);
    }
    events.clear();
    return quit;
}

// Takes one picture of each state the demo reaches, a few frames after reaching it: the
// screen can lag a present behind the device. The first picture also waits for the window
// to reach the screen and for a frame rate to show (the sample taken at the first frame
// always reads 0, and the first frame can take a second of set-up of its own).
class picture_taker {
public:
    explicit picture_taker(std::wstring folder) : folder_(std::move(folder)) {
        if (!folder_.empty() && folder_.back() != L'\\') folder_ += L'\\';
    }

    void after_frame(HWND window, const demo_state& state, bool rate_shown) {
        if (folder_.empty()) return;
        const std::string name = state.name();
        if (name != current_) current_ = name, frames_in_state_ = 0;
        ++frames_in_state_;
        if (taken_.count(name) || frames_in_state_ < 3 || (taken_.empty() && !rate_shown)) return;
        screen_picture picture = capture_client_area(window);
        if (picture.blank()) return;  // not on the screen yet: try again next frame
        const std::wstring path = folder_ + std::wstring(name.begin(), name.end()) + L".png";
        if (save_png(picture, path))
            std::printf("picture: %s %s\n", name.c_str(), narrow(path).c_str());
        else
            std::printf("demo: cannot write %s\n", narrow(path).c_str()), ++failures_;
        std::fflush(stdout);
        taken_.insert(name);
    }
    int failures() const { return failures_; }

private:
    std::wstring folder_;
    std::string current_;
    int frames_in_state_ = 0;
    std::set<std::string> taken_;
    int failures_ = 0;
};

HWND create_window() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = window_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"dx8engine_demo";
    RegisterClassW(&wc);
    RECT r{0, 0, screen_width, screen_height};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    return CreateWindowW(wc.lpszClassName, window_title, WS_OVERLAPPEDWINDOW, 40, 40, r.right - r.left,
                         r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
}

// Reads the keyboard on a thread of its own. capturekey pauses 50 ms at every call, so a frame
// loop that polled it would run at under 20 frames a second whatever the device could do. The
// thread is a client apartment of its own: the engine's state is per apartment, so it makes
// its own root objects (dxmain.initialize) and its own dxinput, opens the keyboard on the
// demo's window and polls it until told to stop. The events reach the frame loop through a
// list under a lock, which the loop empties once per frame without ever waiting for a poll.
class keyboard_thread {
public:
    // Starts the thread and waits until the keyboard is open or could not be opened.
    bool start(HWND window) {
        thread_ = std::thread([this, window] { run(window); });
        bool opened = false;
        serve_window_until([&] { return state_ != opening && ((opened = state_ == open), true); });
        return opened;
    }

    // The events raised since the last call, oldest first.
    std::vector<key_sink::event> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::move(events_);
    }

    // Closes the keyboard and ends the thread.
    void stop() {
        if (!thread_.joinable()) return;
        stopping_ = true;
        serve_window_until([this] { return state_ == ended; });
        thread_.join();
    }
    ~keyboard_thread() { stop(); }

private:
    enum { opening, open, failed, ended } state_ = opening;

    // Waits, serving the window's messages meanwhile: DirectInput may send the window (this
    // thread's) a message while the keyboard thread opens or closes the keyboard on it.
    template <class Done>
    void serve_window_until(Done done) {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (done()) return;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
    }

    void run(HWND window) {
        CoInitialize(nullptr);
        {
            engine_client engine;
            ComPtr<iface::_dxinput> input;
            key_sink sink;
            ComPtr<IConnectionPointContainer> container;
            ComPtr<IConnectionPoint> point;
            DWORD cookie = 0;
            LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
            bstr device(L"GUID_SysKeyboard");
            const bool opened =
                ok(engine.initialize(), "dxmain.initialize (keyboard thread)") && engine.create_input(input) &&
                ok(input->QueryInterface(IID_PPV_ARGS(&container)), "dxinput connection points") &&
                ok(container->FindConnectionPoint(iface::DIID_dxinput_events, &point), "FindConnectionPoint") &&
                ok(point->Advise(&sink, &cookie), "Advise") &&
                ok(input->engine_initialize(&handle, &device), "dxinput.engine_initialize");
            report(opened ? open : failed);
            while (opened && !stopping_) {
                ok(input->capturekey(), "capturekey");  // raises the events, then pauses 50 ms
                if (sink.events.empty()) continue;
                std::lock_guard<std::mutex> lock(mutex_);
                events_.insert(events_.end(), sink.events.begin(), sink.events.end());
                sink.events.clear();
            }
            if (opened) ok(input->engine_Terminate(), "dxinput.engine_Terminate");
            if (cookie) point->Unadvise(cookie);
            engine.close();
        }
        CoUninitialize();
        report(ended);
    }

    void report(decltype(state_) state) {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
    }

    std::thread thread_;
    std::mutex mutex_;
    std::vector<key_sink::event> events_;
    std::atomic<bool> stopping_{false};
};

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    std::wstring pictures;
    if (argc > 2)
        for (const char* c = argv[2]; *c; ++c) pictures += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    setvbuf(stdout, nullptr, _IOLBF, 0);

    CoInitialize(nullptr);
    int result = 0;
    {
        engine_client engine;
        HWND window = create_window();
        if (!window || !engine.create()) return 1;
        auto& g = engine.graphics;
        ok(engine.initialize(), "dxmain.initialize");
        // The listing needs only the Direct3D object: a client can choose its size from it.
        print_display_modes(g.Get());

        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        if (!engine.open(window, screen_width, screen_height)) return 1;

        keyboard_thread keyboard;
        if (!keyboard.start(window)) std::printf("demo: no keyboard; the demo ends after %g seconds\n", seconds);

        const SHORT models = load_scene(g.Get(), program_folder() + L"demo_assets\\");
        light_scene(g.Get());
        ComPtr<iface::_dxmodels> mover;
        figure_animations figure_clips;
        if (engine.create_models(mover)) figure_clips = find_figure_animations(mover.Get());
        SetForegroundWindow(window);
        std::printf("running for %g seconds: W wireframe, S solid, P points, L light, Escape quits\n", seconds);

        demo_state state;
        std::set<LONG> held;
        picture_taker pictures_taker(pictures);
        const DWORD start = GetTickCount();
        int frames = 0;
        bool quit = false;
        LONG rate = 0, max = 0, min = 0;
        while (window_open && !quit && GetTickCount() - start < seconds * 1000) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            const DWORD elapsed = GetTickCount() - start;
            // The camera circles the scene once every 18 seconds, looking at its middle.
            const float angle = static_cast<float>(elapsed) * 0.00035f;
            float ex = 11 * std::cos(angle), ey = 5.5f, ez = 11 * std::sin(angle), ax = 0, ay = 0.8f, az = 0;
            ok(g->camera_position(&ex, &ey, &ez), "camera_position");
            ok(g->camera_lookat(&ax, &ay, &az), "camera_lookat");
            if (mover) move_models(mover.Get(), figure_clips, elapsed / 1000.0f);

            ok(g->scene_begin(), "scene_begin");
            for (SHORT i = 0; i < models; ++i) {
                SHORT index = i;
                ok(g->model_draw(&index), "model_draw");
            }
            g->get_FrameRate(&rate);
            g->get_Frameratemax(&max);
            g->get_frameratemin(&min);
            text(g.Get(), L"FrameRate " + std::to_wstring(rate) + L"\nmax " + std::to_wstring(max) + L"   min " +
                              std::to_wstring(min), 0, 0, L"FFFF80");
            text(g.Get(), L"Quellbrook dx 8engine", 0, 1, L"FFFFFF");
            text(g.Get(), L"fill: " + std::wstring(state.fill.begin(), state.fill.end()) + L"\nlight: " +
                              (state.light_on ? L"on" : L"off"), 0, 2, L"80FFFF");
            text(g.Get(), L"W wireframe   S solid   P points\nL light on/off   Esc quit", 2, 0, L"C0C0C0");
            const long left = static_cast<long>(seconds - elapsed / 1000.0 + 0.999);
            text(g.Get(), std::to_wstring(left > 0 ? left : 0) + L" s", 2, 2, L"FF9080");
            ok(g->scene_end(), "scene_end");
            ++frames;

            std::vector<key_sink::event> keys = keyboard.take();
            if (handle_keys(g.Get(), keys, held, state)) {
                std::printf("Escape: quitting\n");
                quit = true;
            }
            pictures_taker.after_frame(window, state, rate > 0 || elapsed > 8000);
        }
        if (!quit) std::printf(window_open ? "time is up\n" : "window closed\n");

        const double run = (GetTickCount() - start) / 1000.0;
        g->get_FrameRate(&rate);
        g->get_Frameratemax(&max);
        g->get_frameratemin(&min);
        std::printf("frame rate: FrameRate %ld, Frameratemax %ld, frameratemin %ld (%d frames in %.1f s)\n",
                    static_cast<long>(rate), static_cast<long>(max), static_cast<long>(min), frames, run);

        keyboard.stop();
        engine.close();
        DestroyWindow(window);
        const int failures = ok.failures() + pictures_taker.failures();
        if (failures) std::printf("demo: %d calls failed\n", failures);
        result = failures ? 1 : 0;
    }
    CoUninitialize();
    return result;
}
