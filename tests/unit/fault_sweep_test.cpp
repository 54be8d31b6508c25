// Every DirectX-layer operation of whole client lives, failing in turn. Three lives are driven
// through the public interface against the recording double and recorded; then each life is
// replayed once per occurrence of every operation it made, with that one occurrence failing
// with the code the platform gives for it. Each run is a life of its own: a new thread, an
// apartment of its own, the client's objects made, used, released, and the apartment ended.
//
// Every run is judged:
// - the member in which the failure happened fails with that code and a description that
//   names the operation; engine_Initialise shows that description in its notice instead and
//   succeeds; the range-fog probe, the display-mode listing and capturekey's buffered read
//   carry on as if nothing had happened;
// - every other member succeeds where the objects it needs are there, and fails with error 91
//   (error 9 for a display-mode row never listed) where they are not, with a description;
//   Initialised ends True exactly for the graphics objects whose set-up ran to its end;
// - once the client has released its objects, the live objects of the double are exactly
//   those the engine-wide state holds; once the apartment has ended, none is live, nor is any
//   COM object of the engine's own, and the apartment's state is gone.
// The test prints a table of operation x outcome and fails on every run that broke a rule.
#include <ocidl.h>
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <set>

#include "com/module.h"
#include "dx/recording_input.h"
#include "engine/pause.h"
#include "graphics_fixture.h"

namespace {

using dx::recording::log;

// What a member needs from the engine-wide state or from its own object.
enum need : unsigned {
    nothing = 0,
    root = 1,       // the DirectX8 object
    direct3d = 2,   // the Direct3D8 object
    d3dx = 4,       // the D3DX8 object
    device = 8,     // the device
    font = 16,      // the graphics object's device font
    keyboard = 32,  // the input object's keyboard device
    listing = 64,   // a display-mode listing holding the row asked for
};

// Every operation of the layer that the engine makes; the lives together make each of them.
const std::set<std::string> layer_operations = {
    "DirectX8.create", "DirectX8.Direct3DCreate", "DirectX8.DirectInputCreate",
    "Direct3D8.GetAdapterDisplayMode", "Direct3D8.CreateDevice", "Direct3D8.GetDeviceCaps",
    "Direct3D8.GetAdapterModeCount", "Direct3D8.EnumAdapterModes", "Direct3D8.CheckDeviceType",
    "Direct3DDevice8.Clear", "Direct3DDevice8.BeginScene", "Direct3DDevice8.EndScene", "Direct3DDevice8.Present",
    "Direct3DDevice8.SetTransform", "Direct3DDevice8.SetRenderState", "Direct3DDevice8.SetMaterial",
    "Direct3DDevice8.SetTexture", "Direct3DDevice8.SetLight", "Direct3DDevice8.LightEnable",
    "D3DX8.create", "D3DX8.CreateFont", "D3DX8.DrawText", "D3DX8.CreateBuffer", "D3DX8.BufferSetData",
    "D3DX8.BufferGetData", "D3DX8.LoadMeshFromX", "D3DX8.BufferGetMaterial", "D3DX8.BufferGetTextureName",
    "D3DX8.CreateTextureFromFileEx", "D3DX8.CreateTextureFromFileInMemoryEx", "D3DXMesh.DrawSubset", "DirectInput8.CreateDevice",
    "DirectInputDevice8.SetCommonDataFormat", "DirectInputDevice8.SetCooperativeLevel",
    "DirectInputDevice8.SetProperty", "DirectInputDevice8.Acquire", "DirectInputDevice8.GetDeviceStateKeyboard",
    "DirectInputDevice8.GetDeviceData", "DirectInputDevice8.Unacquire"};

// The code an operation fails with on the platform (or in our own layer over it); E_FAIL for
// the two that our layer never lets fail.
HRESULT failure_of(const std::string& operation) {
    static const std::map<std::string, HRESULT> codes = {
        {"DirectX8.create", E_OUTOFMEMORY},
        {"DirectX8.Direct3DCreate", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {"DirectX8.DirectInputCreate", HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {"Direct3D8.CreateDevice", D3DERR_NOTAVAILABLE},
        {"Direct3D8.GetDeviceCaps", D3DERR_INVALIDDEVICE},
        {"Direct3D8.GetAdapterModeCount", E_FAIL},
        {"Direct3D8.CheckDeviceType", D3DERR_NOTAVAILABLE},
        {"Direct3DDevice8.Present", D3DERR_DEVICELOST},
        {"D3DX8.create", E_OUTOFMEMORY},
        {"D3DX8.CreateFont", E_OUTOFMEMORY},
        {"D3DX8.CreateBuffer", E_OUTOFMEMORY},
        {"D3DX8.BufferSetData", E_INVALIDARG},
        {"D3DX8.BufferGetData", E_INVALIDARG},
        {"D3DX8.LoadMeshFromX", static_cast<HRESULT>(0x88760B59)},  // D3DXERR_INVALIDDATA
        {"D3DX8.CreateTextureFromFileEx", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"D3DX8.CreateTextureFromFileInMemoryEx", static_cast<HRESULT>(0x88760B59)},
        {"DirectInput8.CreateDevice", DIERR_DEVICENOTREG},
        {"DirectInputDevice8.SetCommonDataFormat", DIERR_ACQUIRED},
        {"DirectInputDevice8.SetCooperativeLevel", E_HANDLE},
        {"DirectInputDevice8.SetProperty", DIERR_INVALIDPARAM},
        {"DirectInputDevice8.Acquire", DIERR_OTHERAPPHASPRIO},
        {"DirectInputDevice8.GetDeviceStateKeyboard", DIERR_INPUTLOST},
        {"DirectInputDevice8.GetDeviceData", DIERR_NOTACQUIRED},
        {"DirectInputDevice8.Unacquire", E_FAIL},
    };
    auto it = codes.find(operation);
    return it != codes.end() ? it->second : D3DERR_INVALIDCALL;
}

// How a description names the operation: the two creations by what they make.
std::wstring named(const std::string& operation) {
    std::wstring w(operation.begin(), operation.end());
    const std::wstring suffix = L".create";
    if (w.size() > suffix.size() && w.compare(w.size() - suffix.size(), suffix.size(), suffix) == 0)
        return L"Creating the " + w.substr(0, w.size() - suffix.size()) + L" object";
    return w;
}

// The members whose failing steps are skipped by contract, with the operations they skip.
bool carries_on(const std::string& member, const std::string& operation) {
    return (member == "engine_Initialise" && operation == "Direct3D8.GetDeviceCaps") ||
           (member == "engine_get_display_modes" &&
            (operation == "Direct3D8.GetAdapterModeCount" || operation == "Direct3D8.EnumAdapterModes" ||
             operation == "Direct3D8.CheckDeviceType")) ||
           (member == "capturekey" && operation == "DirectInputDevice8.GetDeviceData");
}

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The one failure of a run, or none for the recording.
struct fault {
    std::string operation;
    int occurrence = 0;
    HRESULT hr = S_OK;
};

// What a run found: how the failure showed, and every rule broken.
struct run_result {
    std::string outcome = "not reached";  // raised, notice, carried on
    std::string member;                    // where the failure happened
    std::vector<std::string> problems;
    std::map<std::string, int> occurrences;  // of the recording
};

// The notices of set-ups and the fake clock, for the run under way (one at a time).
std::vector<std::wstring> notices;
DWORD now = 0;
DWORD fake_ticks() { return now += 300; }
void record_notice(const std::wstring& text) { notices.push_back(text); }

// An event sink, connected so that capturekey raises its events.
class sink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iface::DIID_dxinput_events) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }  // lives on the client's stack
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return S_OK;
    }
};

// A client's objects and its calls of every member, each judged as it returns.
class client {
public:
    client(std::shared_ptr<log> into, const fault& f, run_result& result)
        : log_(std::move(into)), fault_(f), r_(result) {
        engine::create_dxmain(iface::IID_dxmain, reinterpret_cast<void**>(main_.GetAddressOf()));
        for (auto& g : g_) engine::create_dxgraphics(iface::IID_dxgraphics, reinterpret_cast<void**>(g.GetAddressOf()));
        engine::create_dxinput(iface::IID_dxinput, reinterpret_cast<void**>(input_.GetAddressOf()));
        ComPtr<IConnectionPointContainer> container;
        if (!main_ || !g_[0] || !g_[1] || !input_ || FAILED(input_.As(&container)) ||
            FAILED(container->FindConnectionPoint(iface::DIID_dxinput_events, &point_)) ||
            FAILED(point_->Advise(&events_, &cookie_)))
            r_.problems.push_back("the client's objects could not be made");
    }

    // The client lets everything go, as its program ends.
    void release() {
        for (int i = 0; i < 2; ++i) {
            VARIANT_BOOL b = VARIANT_FALSE;
            g_[i]->get_Initialised(&b);
            if ((b == VARIANT_TRUE) != set_up_[i])
                problem("g" + std::to_string(i) + ".Initialised is " + (b ? "True" : "False") + " after " +
                        (set_up_[i] ? "a set-up that ran to its end" : "no set-up that ran to its end"));
        }
        if (point_) point_->Unadvise(cookie_);
        point_.Reset();
        input_.Reset();
        for (auto& g : g_) g.Reset();
        main_.Reset();
    }

    // dxmain
    void initialize() { call("dxmain", "initialize", nothing, [&] { return main_->initialize(); }); }
    void unload() { call("dxmain", "engine_unload", nothing, [&] { return main_->engine_unload(); }); }

    // dxgraphics
    void display_modes(int i) {
        call(i, "engine_get_display_modes", direct3d, [&] { return g_[i]->engine_get_display_modes(); });
    }
    void show_mode(int i, SHORT row) {
        using show = HRESULT (STDMETHODCALLTYPE iface::_dxgraphics::*)(SHORT*, BSTR*);
        const std::pair<const char*, show> fields[] = {
            {"engine_show_display_modes_width", &iface::_dxgraphics::engine_show_display_modes_width},
            {"engine_show_display_modes_height", &iface::_dxgraphics::engine_show_display_modes_height},
            {"engine_show_display_modes_depth", &iface::_dxgraphics::engine_show_display_modes_depth},
            {"engine_show_display_modes_hertz", &iface::_dxgraphics::engine_show_display_modes_hertz}};
        for (auto [name, member] : fields) {
            row_ = row;
            call(i, name, listing, [&] {
                bstr text;
                return (g_[i].Get()->*member)(&row, text.out());
            });
        }
    }
    void load_window(int i) {
        call(i, "engine_load", nothing, [&] {
            LONG window = 1234;
            return g_[i]->engine_load(&window);
        });
    }
    void set_up(int i, SHORT window, SHORT width, SHORT height, VARIANT_BOOL aa = VARIANT_FALSE, SHORT samples = 2,
                VARIANT_BOOL fog = VARIANT_FALSE, float start = 0, float end = 0) {
        call(i, "engine_Initialise", direct3d, [&] {
            return g_[i]->engine_Initialise(&window, &width, &height, &aa, &samples, &fog, &start, &end);
        });
    }
    void end(int i) { call(i, "engine_end", nothing, [&] { return g_[i]->engine_end(); }); }
    void model_load(int i, const wchar_t* file) {
        call(i, "model_load", d3dx | device, [&] {
            bstr folder(L"C:\\models\\"), name(file);
            BSTR f = folder.get(), n = name.get();
            return g_[i]->model_load(&f, &n);
        });
    }
    void model_move(int i, SHORT index, float x, float y, float z) {
        call(i, "model_move", nothing, [&] { return g_[i]->model_move(&index, &x, &y, &z); });
    }
    void model_draw(int i, SHORT index) {
        call(i, "model_draw", device, [&] { return g_[i]->model_draw(&index); });
    }
    void camera(int i, float x, float y, float z, float tx, float ty, float tz) {
        call(i, "camera_position", nothing, [&] { return g_[i]->camera_position(&x, &y, &z); });
        call(i, "camera_lookat", nothing, [&] { return g_[i]->camera_lookat(&tx, &ty, &tz); });
    }
    void directional_light(int i, VARIANT_BOOL on) {
        call(i, "light_create_directional", device, [&] {
            float px = 0, py = 0, pz = 0, dx = 0.3f, dy = -0.3f, dz = 1, one = 1;
            LONG range = 1000;
            return g_[i]->light_create_directional(&px, &py, &pz, &dx, &dy, &dz, &one, &one, &one, &range, &on);
        });
    }
    void point_light(int i, VARIANT_BOOL on) {
        call(i, "light_create_point", device, [&] {
            float px = 2, py = 3, pz = -4, range = 50, attenuation = 0, r = 1, gr = 0.5f, b = 0;
            return g_[i]->light_create_point(&px, &py, &pz, &range, &attenuation, &r, &gr, &b, &on);
        });
    }
    void spot_light(int i, VARIANT_BOOL on) {
        call(i, "light_create_spot", device, [&] {
            float px = 0, py = 10, pz = 0, dx = 0, dy = -1, dz = 0, r = 0, gr = 0, b = 1;
            LONG inner = 20, outer = 40, range = 100;
            return g_[i]->light_create_spot(&px, &py, &pz, &dx, &dy, &dz, &r, &gr, &b, &inner, &outer, &range, &on);
        });
    }
    void ambience(int i, const wchar_t* colour) {
        call(i, "light_ambience", device, [&] {
            bstr c(colour);
            BSTR b = c.get();
            return g_[i]->light_ambience(&b);
        });
    }
    void light_switch(int i, SHORT on, SHORT index) {
        call(i, "light_switch", device, [&] { return g_[i]->light_switch(&on, &index); });
    }
    void light_colour(int i, LONG r, LONG gr, LONG b, SHORT index) {
        call(i, "light_change_color", device, [&] { return g_[i]->light_change_color(&r, &gr, &b, &index); });
    }
    void text_change(int i, SHORT size, const wchar_t* name, VARIANT_BOOL bold) {
        call(i, "text_change", d3dx | device, [&] {
            bstr n(name);
            BSTR b = n.get();
            return g_[i]->text_change(&size, &b, &bold);
        });
    }
    void text_draw(int i, const wchar_t* text, SHORT top, SHORT left, const wchar_t* colour) {
        call(i, "text_draw", d3dx | font, [&] {
            bstr t(text), c(colour);
            BSTR tb = t.get(), cb = c.get();
            return g_[i]->text_draw(&tb, &top, &left, &cb);
        });
    }
    enum fill { wireframe, point, solid };
    void fill_mode(int i, fill mode) {
        switch (mode) {
        case wireframe:
            call(i, "engine_render_wireframe_mode", device, [&] { return g_[i]->engine_render_wireframe_mode(); });
            break;
        case point:
            call(i, "engine_render_point_mode", device, [&] { return g_[i]->engine_render_point_mode(); });
            break;
        case solid:
            call(i, "engine_render_solid_mode", device, [&] { return g_[i]->engine_render_solid_mode(); });
            break;
        }
    }
    // One frame: the models of the given slots, then a line of text.
    void frame(int i, std::initializer_list<SHORT> models) {
        call(i, "scene_begin", device, [&] { return g_[i]->scene_begin(); });
        for (SHORT m : models) model_draw(i, m);
        text_draw(i, L"FrameRate", 0, 0, L"CCCCFF");
        call(i, "scene_end", device, [&] { return g_[i]->scene_end(); });
    }
    void float_to_dword(int i, float f) {
        call(i, "FloatToDWord", d3dx, [&] {
            LONG bits = 0;
            return g_[i]->FloatToDWord(&f, &bits);
        });
    }

    // dxinput
    void keyboard_open() {
        call("dxinput", "engine_initialize", root, [&] {
            LONG window = 1234;
            bstr name(L"GUID_SysKeyboard");
            BSTR b = name.get();
            return input_->engine_initialize(&window, &b);
        });
    }
    void capture() { call("dxinput", "capturekey", keyboard, [&] { return input_->capturekey(); }); }
    void keyboard_close() { call("dxinput", "engine_Terminate", keyboard, [&] { return input_->engine_Terminate(); }); }

private:
    template <class Body>
    void call(int i, const char* member, unsigned needs, Body&& body) {
        graphics_ = i;
        call(i == 0 ? "g0" : "g1", member, needs, std::forward<Body>(body));
    }

    // Calls a member and judges what it did against the state it found.
    template <class Body>
    void call(const char* object, const char* member, unsigned needs, Body&& body) {
        const unsigned missing = missing_of(needs);
        const bool given_before = log_->occurrence_failed();
        const size_t notices_before = notices.size();
        SetErrorInfo(0, nullptr);
        const HRESULT hr = body();
        const std::wstring description = FAILED(hr) ? error_description() : L"";
        const std::string who = std::string(object) + "." + member;
        const bool here = !given_before && log_->occurrence_failed();
        const bool set_up = std::string(member) == "engine_Initialise";
        const std::wstring notice = notices.size() > notices_before ? notices.back() : L"";
        const size_t new_notices = notices.size() - notices_before;
        if (here) {
            r_.member = member;
            const std::wstring name = named(fault_.operation);
            const std::string digits = hex(fault_.hr);
            const std::wstring code(digits.begin(), digits.end());
            // "<operation> ... failed: <what the code means> (<code>)"
            auto names_it = [&](const std::wstring& text) {
                const bool named_first = text.rfind(name, 0) == 0 && text.size() > name.size() &&
                                         (text[name.size()] == L' ' || text[name.size()] == L'(');
                return named_first && text.find(L" failed: ") != std::wstring::npos &&
                       text.find(L" failed: Error 0x") == std::wstring::npos && text.find(code) != std::wstring::npos;
            };
            if (carries_on(member, fault_.operation)) {
                r_.outcome = "carried on";
                if (hr != S_OK || new_notices) problem(who + " should carry on but returned " + hex(hr) +
                                                       (new_notices ? " with a notice" : ""));
            } else if (set_up) {
                r_.outcome = "notice";
                if (hr != S_OK || new_notices != 1 || !names_it(notice))
                    problem(who + " returned " + hex(hr) + " with " + std::to_string(new_notices) + " notices: \"" +
                            narrow(notice) + "\"");
            } else {
                r_.outcome = "raised";
                if (hr != fault_.hr || !names_it(description))
                    problem(who + " returned " + hex(hr) + " \"" + narrow(description) + "\"");
            }
        } else {
            // Error 91 for an object that is not there, error 9 for a row never listed.
            const HRESULT expected = (missing & ~listing)  ? com::error_object_not_set
                                     : (missing & listing) ? com::error_subscript
                                                           : S_OK;
            if (set_up) {
                const std::wstring want = expected == S_OK ? L"" : com::describe(expected);
                if (hr != S_OK || new_notices != (expected == S_OK ? 0u : 1u) || notice != want)
                    problem(who + " returned " + hex(hr) + " with notice \"" + narrow(notice) + "\", expected " +
                            (expected == S_OK ? "none" : narrow(want)));
            } else if (hr != expected || (FAILED(hr) && description != com::describe(expected))) {
                problem(who + " returned " + hex(hr) + " \"" + narrow(description) + "\", expected " + hex(expected));
            }
        }
        if (set_up && hr == S_OK && new_notices == 0) set_up_[graphics_] = true;
    }

    unsigned missing_of(unsigned needs) {
        auto& s = engine::declarations();
        unsigned missing = 0;
        if ((needs & root) && !s.dx8) missing |= root;
        if ((needs & direct3d) && !s.d3d8) missing |= direct3d;
        if ((needs & d3dx) && !s.d3dx8) missing |= d3dx;
        if ((needs & device) && !s.d3ddevice) missing |= device;
        if ((needs & font) && !engine::dxgraphics_access::has_font(g_[graphics_].Get())) missing |= font;
        if ((needs & keyboard) && log_->live("DirectInputDevice8") == 0) missing |= keyboard;
        if ((needs & listing) && (!s.display_modes || row_ < 0 || row_ >= static_cast<SHORT>(s.display_modes->size())))
            missing |= listing;
        return missing;
    }

    void problem(const std::string& text) { r_.problems.push_back(text); }

    std::shared_ptr<log> log_;
    const fault& fault_;
    run_result& r_;
    ComPtr<iface::_dxmain> main_;
    ComPtr<iface::_dxgraphics> g_[2];
    ComPtr<iface::_dxinput> input_;
    sink events_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    int graphics_ = 0;
    SHORT row_ = 0;
    bool set_up_[2] = {false, false};
};

// A windowed scene as the demo draws it: display modes first, a multisampled device with
// range fog, two models with textures, a light of each kind, text in a font of its own,
// frames in each fill mode, the keyboard read every frame; then everything ended.
void windowed_scene(client& c) {
    c.initialize();
    c.display_modes(0);
    c.show_mode(0, 0);
    c.show_mode(0, 2);
    c.load_window(0);
    c.set_up(0, 1, 640, 480, VARIANT_TRUE, 4, VARIANT_TRUE, 1.0f, 100.0f);
    c.model_load(0, L"crate.x");
    c.model_load(0, L"ball.x");
    c.model_move(0, 0, -2, 0, 0);
    c.model_move(0, 1, 2, 0, 0);
    c.camera(0, 0, 3, -10, 0, 0, 0);
    c.directional_light(0, VARIANT_TRUE);
    c.point_light(0, VARIANT_TRUE);
    c.spot_light(0, VARIANT_FALSE);
    c.ambience(0, L"202020");
    c.text_change(0, 16, L"Arial", VARIANT_TRUE);
    c.keyboard_open();
    for (auto mode : {client::wireframe, client::point, client::solid}) {
        c.fill_mode(0, mode);
        c.frame(0, {0, 1});
        c.capture();
    }
    c.light_switch(0, 0, 0);
    c.light_colour(0, 1, 0, 0, 1);
    c.frame(0, {0, 1});
    c.keyboard_close();
    c.end(0);
    c.unload();
}

// A client that sets up again and again: dxmain initialized twice, a full-screen device
// replaced by a windowed one with fog while a model of the first stays in the table, a second
// graphics object sharing the table, the keyboard opened twice and closed twice, the device
// ended twice, and a listing after the root objects were unloaded and made again.
void restarts(client& c) {
    c.initialize();
    c.initialize();
    c.load_window(0);
    c.set_up(0, 0, 800, 600);
    c.load_window(1);
    c.model_load(0, L"crate.x");
    c.set_up(0, 1, 640, 480, VARIANT_FALSE, 2, VARIANT_TRUE, 10.0f, 500.0f);
    c.text_change(1, 10, L"Courier New", VARIANT_FALSE);
    c.model_load(1, L"ball.x");
    c.point_light(1, VARIANT_TRUE);
    c.fill_mode(1, client::solid);
    c.frame(1, {0, 1});
    c.float_to_dword(0, 2.5f);
    c.keyboard_open();
    c.keyboard_open();
    c.capture();
    c.keyboard_close();
    c.keyboard_close();
    c.end(0);
    c.frame(0, {0});
    c.end(1);
    c.unload();
    c.display_modes(1);
    c.initialize();
    c.display_modes(1);
    c.show_mode(1, 1);
    c.unload();
}

// Calls out of order, as a script without a window makes them: members before the objects
// they need, a full-screen device without a window, the root objects unloaded while the
// device and the D3DX object stay in use, and the keyboard asked for after the unload.
void out_of_order(client& c) {
    c.float_to_dword(0, 1.0f);
    c.set_up(0, 0, 640, 480);
    c.show_mode(0, 0);
    c.initialize();
    c.set_up(0, 0, 640, 480);
    c.fill_mode(0, client::point);
    c.frame(0, {});
    c.unload();
    c.model_load(0, L"crate.x");
    c.frame(0, {0});
    c.keyboard_open();
    c.capture();
    c.end(0);
}

struct life {
    const char* name;
    void (*body)(client&);
};
const life lives[] = {{"windowed scene", windowed_scene}, {"restarts", restarts}, {"out of order", out_of_order}};

// What the recording objects report: three adapter modes, range fog, a mesh of three materials
// of which three have textures (one held in the model file), the A key held down and one release buffered.
std::shared_ptr<log> scripted_log() {
    auto l = std::make_shared<log>();
    l->graphics.adapter_modes = {{640, 480, 60, D3DFMT_X8R8G8B8}, {800, 600, 60, D3DFMT_X8R8G8B8},
                                 {1024, 768, 75, D3DFMT_R5G6B5}};
    l->graphics.raster_caps = D3DPRASTERCAPS_FOGRANGE;
    D3DMATERIAL8 red{}, white{}, blue{}, green{};
    red.Diffuse = {1, 0, 0, 1};
    white.Diffuse = {1, 1, 1, 1};
    blue.Diffuse = {0, 0, 1, 1};
    green.Diffuse = {0, 1, 0, 1};
    l->graphics.mesh_materials = {{red, L"crate.bmp"}, {white, L""}, {blue, L"wall.png"}, {green, L"image 0"}};
    l->graphics.texture_sources.resize(4);
    l->graphics.texture_sources[3].image = std::make_shared<std::vector<unsigned char>>(16, 0);
    auto& k = l->keyboard();
    k.state[30] = 0x80;
    k.reads = {dx::recording::records({{30, 0x80}}), dx::recording::records({{30, 0}})};
    return l;
}

// The objects the engine-wide state holds, by the kind the double logs them as.
std::map<std::string, int> held_by_state() {
    auto& s = engine::declarations();
    std::map<std::string, int> held = {{"DirectX8", s.dx8 ? 1 : 0},          {"Direct3D8", s.d3d8 ? 1 : 0},
                                       {"DirectInput8", s.dinput8 ? 1 : 0},  {"D3DX8", s.d3dx8 ? 1 : 0},
                                       {"Direct3DDevice8", s.d3ddevice ? 1 : 0}};
    for (const auto& m : *s.models) {
        if (m.mesh) ++held["D3DXMesh"];
        for (const auto& t : m.textures)
            if (t) ++held["Direct3DTexture8"];
    }
    return held;
}

std::string differences(const std::map<std::string, int>& live, const std::map<std::string, int>& want) {
    std::string out;
    std::set<std::string> kinds;
    for (auto& [k, n] : live) kinds.insert(k);
    for (auto& [k, n] : want) kinds.insert(k);
    for (const auto& k : kinds) {
        auto l = live.find(k), w = want.find(k);
        int have = l == live.end() ? 0 : l->second, expect = w == want.end() ? 0 : w->second;
        if (have != expect) out += " " + k + " " + std::to_string(have) + " (expected " + std::to_string(expect) + ")";
    }
    return out;
}

// One life from the apartment's start to its end, on the calling thread.
run_result live_once(const life& l, const fault& f, long states_before, long objects_before) {
    run_result result;
    auto into = scripted_log();
    dx::set_directx_factory(dx::recording::factory(into));
    dx::set_d3dx_factory(dx::recording::d3dx(into));
    notices.clear();
    now = 5000;
    if (f.occurrence) into->fail_occurrence(f.operation, f.occurrence, f.hr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        client c(into, f, result);
        l.body(c);
        c.release();
    }
    // What stays after the client let everything go is what the engine-wide state keeps.
    if (auto d = differences(into->live_objects(), held_by_state()); !d.empty())
        result.problems.push_back("after the client released everything, live beyond the engine-wide state:" + d);
    CoUninitialize();
    if (auto d = differences(into->live_objects(), {}); !d.empty())
        result.problems.push_back("after the apartment ended, still live:" + d);
    if (engine::live_states() != states_before)
        result.problems.push_back("after the apartment ended, " + std::to_string(engine::live_states()) +
                                  " apartment states are live, expected " + std::to_string(states_before));
    if (com::object_count() != objects_before)
        result.problems.push_back("after the apartment ended, " + std::to_string(com::object_count() - objects_before) +
                                  " more of the engine's own COM objects are live than before");
    if (f.occurrence && !into->occurrence_failed())
        result.problems.push_back("the failing occurrence was never reached");
    result.occurrences = into->occurrences();
    return result;
}

// The run under way, named when the process crashes in it.
std::string running;
LONG WINAPI name_the_crash(EXCEPTION_POINTERS* e) {
    std::fprintf(stderr, "crash (exception 0x%08lX) in %s\n", e->ExceptionRecord->ExceptionCode, running.c_str());
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Runs a life on a thread of its own; a run that does not end within a minute ends the test
// program, naming it.
run_result run_on_thread(const life& l, const fault& f) {
    running = std::string(l.name) + (f.occurrence ? ", " + f.operation + " #" + std::to_string(f.occurrence) : "");
    const long states_before = engine::live_states(), objects_before = com::object_count();
    auto done = std::async(std::launch::async, [&] { return live_once(l, f, states_before, objects_before); });
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        std::fprintf(stderr, "hang: %s did not end within 60 s\n", running.c_str());
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return done.get();
}

struct row {
    int replays = 0;
    std::map<std::string, int> outcomes;
    std::set<std::string> members;
    int problems = 0;
};

TEST(FaultSweep, EveryOccurrenceOfEveryDirectXOperationOfWholeLivesFailsInTurn) {
    const auto started = std::chrono::steady_clock::now();
    engine::discard_current_state();
    auto saved_ticks = engine::seams::tick_count;
    auto saved_notice = engine::seams::show_notice;
    engine::seams::tick_count = fake_ticks;
    engine::seams::show_notice = record_notice;
    engine::set_pause([](DWORD) {});
    auto saved_filter = SetUnhandledExceptionFilter(name_the_crash);

    std::map<std::string, row> table;
    std::set<std::string> made;
    std::vector<std::string> problems;
    int replays = 0;
    for (const auto& l : lives) {
        const run_result recorded = run_on_thread(l, {});
        for (const auto& p : recorded.problems) problems.push_back(std::string(l.name) + ", no failure: " + p);
        for (const auto& [operation, count] : recorded.occurrences) {
            made.insert(operation);
            const HRESULT hr = failure_of(operation);
            for (int n = 1; n <= count; ++n) {
                const fault f{operation, n, hr};
                const run_result r = run_on_thread(l, f);
                ++replays;
                auto& line = table[operation];
                ++line.replays;
                ++line.outcomes[r.outcome];
                if (!r.member.empty()) line.members.insert(r.member);
                line.problems += r.problems.empty() ? 0 : 1;
                for (const auto& p : r.problems)
                    problems.push_back(std::string(l.name) + ", " + operation + " #" + std::to_string(n) +
                                       " failing (" + hex(hr) + "): " + p);
            }
        }
    }

    SetUnhandledExceptionFilter(saved_filter);
    engine::set_pause({});
    engine::seams::tick_count = saved_ticks;
    engine::seams::show_notice = saved_notice;
    dx::set_directx_factory({});
    dx::set_d3dx_factory({});

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%-42s %7s %6s %6s %7s %8s  %s\n", "operation", "replays", "raised", "notice", "carried", "problems",
                "members it failed in");
    for (const auto& [operation, line] : table) {
        auto count = [&](const char* outcome) {
            auto it = line.outcomes.find(outcome);
            return it == line.outcomes.end() ? 0 : it->second;
        };
        std::string members;
        for (const auto& m : line.members) members += (members.empty() ? "" : ", ") + m;
        std::printf("%-42s %7d %6d %6d %7d %8d  %s\n", operation.c_str(), line.replays, count("raised"),
                    count("notice"), count("carried on"), line.problems, members.c_str());
    }
    std::printf("%zu lives, %zu distinct operations, %d replays, %zu problems, %.1f s\n", std::size(lives),
                made.size(), replays, problems.size(), seconds);

    EXPECT_EQ(layer_operations, made) << "the lives should make every operation of the layer the engine uses";
    const size_t shown = std::min<size_t>(problems.size(), 40);
    for (size_t i = 0; i < shown; ++i) ADD_FAILURE() << problems[i];
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first " << shown << " listed above";
}

}  // namespace
