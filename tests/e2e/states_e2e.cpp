// Every member of the classes called in every state a client with a window can reach:
// the host must survive each call, and each call must either succeed or fail with an HRESULT
// and a description the client can show. The members come from the generated member tables,
// so a member added to the interface is covered without touching this file.
//
// A client is built up to a state on a thread of its own, in an apartment of its own, so that
// it starts from a fresh engine-wide state; the members are then called on it one after
// another. After a member that opens, closes or sets up part of what makes the state, the
// client is closed and the next member meets one built afresh. The test thread watches for a
// crash or a call that never returns, and a second watcher presses OK on the message box of a
// failed device set-up. A keyboard of the test's own stays acquired throughout, so that Wine's
// input thread is not stopped and restarted with every client.
#include <windows.h>
#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

// The states a client reaches with a window, each built from scratch. The failed set-up comes
// last: under Wine every device made after a refused full-screen mode takes seconds longer.
enum class state { open, in_scene, ended, unloaded, terminated, failed_setup };
constexpr state all_states[] = {state::open,     state::in_scene,   state::ended,
                                state::unloaded, state::terminated, state::failed_setup};

const char* name_of(state s) {
    switch (s) {
    case state::open: return "open";
    case state::in_scene: return "in scene";
    case state::ended: return "ended";
    case state::failed_setup: return "failed set-up";
    case state::unloaded: return "unloaded";
    case state::terminated: return "terminated";
    }
    return "?";
}

std::string narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
    return s;
}

// The corpus folder as a Windows path (XFILES holds its Unix path; Wine maps / to Z:).
std::wstring corpus_folder() {
    const char* unix_path = getenv("XFILES");
    std::wstring path = L"Z:";
    for (const char* c = unix_path ? unix_path : ""; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    return path + L"\\";
}

// Message boxes of this process, answered with OK as soon as they show; their texts are kept
// for the call under way.
class box_watcher {
public:
    box_watcher() : thread_([this] { run(); }) {}
    ~box_watcher() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::wstring> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(texts_, {});
    }

private:
    void run() {
        while (!stop_) {
            Sleep(20);
            HWND box = nullptr;
            while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr))) {
                DWORD pid = 0;
                GetWindowThreadProcessId(box, &pid);
                if (pid != GetCurrentProcessId() || !IsWindowVisible(box) || box == answered_) continue;
                wchar_t buffer[1024] = {};
                GetDlgItemTextW(box, 0xFFFF, buffer, 1024);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    texts_.push_back(buffer);
                }
                answered_ = box;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
        }
    }
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::wstring> texts_;
    HWND answered_ = nullptr;
    std::thread thread_;
};

// What one call did.
struct outcome {
    enum { not_run, setup_failed, succeeded, failed_with_description, failed_silently, crashed, hung } kind = not_run;
    HRESULT hr = S_OK;
    std::wstring text;  // the description, the set-up step that failed, or the crash
    bool box = false;   // a message box showed during the call
};

// One member in one state, and what the call did.
struct cell {
    const com::coclass_desc* cls;
    const com::member_desc* member;
    outcome result;
};

// The members called in one state, in order, and how far the calls have come. A client
// thread runs them from `next` on; the test thread starts another when one ends early.
struct batch {
    state where;
    std::vector<cell> cells;
    std::atomic<size_t> next{0};
    enum phase { building, calling, closing };
    std::atomic<phase> now{building};
    box_watcher* boxes;
    HWND window;
    DWORD thread_id = 0;
};
batch* current_batch = nullptr;
constexpr DWORD crash_exit = 0xDEAD;

// A crash on the client thread ends the thread, not the process: it is the member under call
// that crashed, or, outside a call, the building or closing of the client around it.
LONG WINAPI on_crash(EXCEPTION_POINTERS* e) {
    batch* b = current_batch;
    if (!b || GetCurrentThreadId() != b->thread_id) return EXCEPTION_CONTINUE_SEARCH;
    const batch::phase now = b->now;
    wchar_t text[128];
    std::swprintf(text, 128, L"exception 0x%08lX at %p%ls",
                  static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode), e->ExceptionRecord->ExceptionAddress,
                  now == batch::building  ? L" while building the client"
                  : now == batch::closing ? L" while closing the client after the call"
                                          : L"");
    size_t at = b->next;
    if (now == batch::closing && at > 0) --at;
    if (at < b->cells.size()) {
        b->cells[at].result.kind = outcome::crashed;
        b->cells[at].result.text = text;
    }
    b->next = at + 1;
    ExitThread(crash_exit);
}

// Members after which the client is no longer in the state it was built to.
bool changes_state(const com::member_desc& m) {
    static const wchar_t* const names[] = {L"engine_load",       L"engine_Initialise", L"scene_begin",
                                           L"scene_end",         L"engine_end",        L"engine_initialize",
                                           L"engine_Terminate",  L"initialize",        L"engine_unload"};
    for (const wchar_t* n : names)
        if (std::wcscmp(m.name, n) == 0) return true;
    // Lets of the properties that say whether the device runs.
    return m.kind == INVOKE_PROPERTYPUT && (std::wcscmp(m.name, L"Initialised") == 0 || std::wcscmp(m.name, L"bRunning") == 0);
}

// A plausible argument for a parameter: by its name where the name says what it is, else
// its default, else a small value of its type.
VARIANT argument_for(const com::param_desc& p, HWND window) {
    VARIANT v;
    VariantInit(&v);
    std::wstring name = p.name ? p.name : L"";
    for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
    auto text = [&](const std::wstring& s) {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(s.c_str());
    };
    auto number = [&](double n) {
        v.vt = p.vt;
        switch (p.vt) {
        case VT_I4: v.lVal = static_cast<LONG>(n); break;
        case VT_I2: v.iVal = static_cast<SHORT>(n); break;
        case VT_BOOL: v.boolVal = n != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        case VT_R4: v.fltVal = static_cast<float>(n); break;
        default: break;
        }
    };
    if (name == L"framehwnd" || name == L"targetframe") number(static_cast<double>(reinterpret_cast<LONG_PTR>(window)));
    else if (name == L"window") number(1);  // windowed: a full-screen device would need a display mode
    else if (name == L"index" || name == L"number") number(0);
    else if (name == L"path") text(corpus_folder());
    else if (name == L"xfilename") text(L"test.x");
    else if (name == L"color" || name == L"hexcolor") text(L"FFFFFF");
    else if (name == L"text") text(L"every member in every state");
    else if (name == L"enabled") number(p.vt == VT_BOOL ? -1 : 1);
    else if (name == L"range") number(100);
    else if (name == L"innercircle") number(20);
    else if (name == L"outercircle") number(40);
    else if (p.has_default && p.vt == VT_BSTR) text(p.text ? p.text : L"");
    else if (p.has_default) number(p.number);
    else if (p.vt == VT_BSTR) text(L"state");
    else if (p.vt == VT_BOOL || !p.name) number(0);  // a property let stores a zero
    else number(1);
    return v;
}

// The objects of one client, built up to a state.
struct client {
    HWND window = nullptr;
    ComPtr<iface::_dxmain> main;
    ComPtr<iface::_dxgraphics> graphics;
    ComPtr<iface::_dxinput> input;
    ComPtr<iface::_dxmodels> models;
    std::wstring failed_step;

    bool step(HRESULT hr, const wchar_t* what) {
        if (hr == S_OK) return true;
        if (failed_step.empty()) {
            wchar_t code[16];
            std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
            failed_step = std::wstring(what) + L" returned " + code;
        }
        return false;
    }

    template <class I>
    bool create(const wchar_t* class_name, REFIID iid, ComPtr<I>& out) {
        CLSID clsid{};
        std::wstring id = std::wstring(iface::library.name) + L"." + class_name;
        return step(CLSIDFromProgID(id.c_str(), &clsid), L"CLSIDFromProgID") &&
               step(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out.GetAddressOf())),
                    L"CoCreateInstance");
    }

    IDispatch* object_of(const com::coclass_desc& c) {
        if (c.default_interface->iid == iface::IID_dxmain) return main.Get();
        if (c.default_interface->iid == iface::IID_dxgraphics) return graphics.Get();
        if (c.default_interface->iid == iface::IID_dxinput) return input.Get();
        if (c.default_interface->iid == iface::IID_dxmodels) return models.Get();
        return nullptr;
    }

    // The four objects, and the engine brought to the state on the window.
    bool build(state s, box_watcher& boxes) {
        if (!create(L"dxmain", iface::IID_dxmain, main) || !create(L"dxgraphics", iface::IID_dxgraphics, graphics) ||
            !create(L"dxinput", iface::IID_dxinput, input) || !create(L"dxmodels", iface::IID_dxmodels, models))
            return false;
        if (!step(main->initialize(), L"dxmain.initialize")) return false;
        LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
        if (!step(graphics->engine_load(&handle), L"engine_load")) return false;
        VARIANT_BOOL off = VARIANT_FALSE, initialised = VARIANT_FALSE;
        SHORT samples = 2;
        float zero = 0;
        if (s == state::failed_setup) {
            // A full-screen size that no adapter offers: the set-up fails through its message box.
            SHORT full_screen = 0, width = 12345, height = 9999;
            if (!step(graphics->engine_Initialise(&full_screen, &width, &height, &off, &samples, &off, &zero, &zero),
                      L"engine_Initialise of an impossible size"))
                return false;
            graphics->get_Initialised(&initialised);
            if (boxes.take().empty()) return step(E_FAIL, L"the failed set-up's message box");
            if (initialised != VARIANT_FALSE) return step(E_FAIL, L"Initialised after a failed set-up");
            return open_keyboard(handle);
        }
        SHORT windowed = 1, width = 640, height = 480;
        if (!step(graphics->engine_Initialise(&windowed, &width, &height, &off, &samples, &off, &zero, &zero),
                  L"engine_Initialise"))
            return false;
        graphics->get_Initialised(&initialised);
        if (initialised != VARIANT_TRUE) {
            std::vector<std::wstring> texts = boxes.take();
            return step(E_FAIL, (L"engine_Initialise: " + (texts.empty() ? std::wstring(L"no device") : texts[0])).c_str());
        }
        // A model, a light and a camera, as a client sets up its scene.
        BSTR folder = SysAllocString(corpus_folder().c_str()), file = SysAllocString(L"test.x");
        HRESULT hr = graphics->model_load(&folder, &file);
        SysFreeString(folder);
        SysFreeString(file);
        if (!step(hr, L"model_load test.x")) return false;
        SHORT first = 0;
        float x = 0, y = 0, z = -5, one = 1, dx = 0.3f, dy = -0.3f;
        LONG range = 1000;
        VARIANT_BOOL on = VARIANT_TRUE;
        if (!step(graphics->model_move(&first, &zero, &zero, &zero), L"model_move") ||
            !step(graphics->light_create_directional(&zero, &zero, &zero, &dx, &dy, &one, &one, &one, &one, &range, &on),
                  L"light_create_directional") ||
            !step(graphics->camera_position(&x, &y, &z), L"camera_position") ||
            !step(graphics->camera_lookat(&zero, &zero, &zero), L"camera_lookat"))
            return false;
        if (!open_keyboard(handle)) return false;
        switch (s) {
        case state::in_scene: return step(graphics->scene_begin(), L"scene_begin");
        case state::ended: return step(graphics->engine_end(), L"engine_end");
        case state::unloaded: return step(main->engine_unload(), L"dxmain.engine_unload");
        case state::terminated: return step(input->engine_Terminate(), L"dxinput.engine_Terminate");
        default: return true;
        }
    }

    bool open_keyboard(LONG handle) {
        BSTR keyboard = SysAllocString(L"GUID_SysKeyboard");
        HRESULT hr = input->engine_initialize(&handle, &keyboard);
        SysFreeString(keyboard);
        return step(hr, L"dxinput.engine_initialize");
    }

    // Closes what is still open, in a client's order; failures here are of no interest.
    void close() {
        if (graphics) graphics->scene_end();
        if (graphics) graphics->engine_end();
        if (main) main->engine_unload();
        models.Reset();
        input.Reset();
        graphics.Reset();
        main.Reset();
    }

    static void pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
};

// Whether a description tells a person something beyond a code: it has a word of three
// letters or more other than "Error" (a bare "Error 0x80004005" says nothing, and the letters
// inside a hexadecimal code are no word).
bool readable(const std::wstring& text) {
    std::wstring word;
    bool in_code = false;
    for (size_t i = 0; i <= text.size(); ++i) {
        const wchar_t c = i < text.size() ? text[i] : L' ';
        if (std::iswalpha(c) && !in_code) {
            word += c;
            continue;
        }
        if (std::iswalnum(c)) {
            in_code = true;  // letters after a digit belong to a number
            word.clear();
            continue;
        }
        if (word.size() >= 3 && word != L"Error" && word != L"error") return true;
        word.clear();
        in_code = false;
    }
    return false;
}

// Calls the member through IDispatch::Invoke, by DISPID, with plausible arguments.
outcome call(IDispatch* object, const com::member_desc& m, HWND window) {
    std::vector<VARIANT> args;
    for (short i = m.param_count - 1; i >= 0; --i) args.push_back(argument_for(m.params[i], window));
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    WORD flags = DISPATCH_METHOD;
    if (m.kind == INVOKE_PROPERTYGET) flags = DISPATCH_PROPERTYGET;
    if (m.kind == INVOKE_PROPERTYPUT) {
        flags = DISPATCH_PROPERTYPUT;
        params.rgdispidNamedArgs = &put;
        params.cNamedArgs = 1;
    }
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT bad = 0;
    HRESULT hr = object->Invoke(m.dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &excep, &bad);
    for (auto& a : args) VariantClear(&a);
    VariantClear(&result);
    outcome o;
    if (hr == S_OK) {
        o.kind = outcome::succeeded;
    } else if (hr == DISP_E_EXCEPTION) {
        if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
        o.hr = excep.scode ? excep.scode : static_cast<HRESULT>(excep.wCode);
        o.text = excep.bstrDescription ? std::wstring(excep.bstrDescription, SysStringLen(excep.bstrDescription)) : L"";
        o.kind = readable(o.text) && FAILED(o.hr) ? outcome::failed_with_description : outcome::failed_silently;
    } else {
        o.kind = outcome::failed_silently;
        o.hr = hr;
    }
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    return o;
}

DWORD WINAPI run_batch(void* p) {
    auto& b = *static_cast<batch*>(p);
    b.thread_id = GetCurrentThreadId();
    b.now = batch::building;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        client cl;
        cl.window = b.window;
        if (!cl.build(b.where, *b.boxes)) {
            // A state that cannot be built serves none of the remaining members.
            for (size_t i = b.next; i < b.cells.size(); ++i) {
                b.cells[i].result.kind = outcome::setup_failed;
                b.cells[i].result.text = cl.failed_step;
            }
            b.next = b.cells.size();
        }
        while (b.next < b.cells.size()) {
            cell& c = b.cells[b.next];
            b.boxes->take();
            b.now = batch::calling;
            c.result = call(cl.object_of(*c.cls), *c.member, cl.window);
            b.now = batch::closing;
            c.result.box = !b.boxes->take().empty();
            ++b.next;
            if (changes_state(*c.member)) break;
        }
        b.now = batch::closing;
        cl.close();
    }
    CoUninitialize();
    return 0;
}

std::string label(const com::member_desc& m) {
    std::string s = narrow(m.name);
    if (m.kind == INVOKE_PROPERTYGET) s += " (get)";
    if (m.kind == INVOKE_PROPERTYPUT) s += " (let)";
    return s;
}

// The short form of a result for the table.
std::string short_form(const outcome& o) {
    char code[16];
    switch (o.kind) {
    case outcome::not_run: return "-";
    case outcome::setup_failed: return "SETUP?";
    case outcome::succeeded: return o.box ? "ok+box" : "ok";
    case outcome::crashed: return "CRASH";
    case outcome::hung: return "HANG";
    case outcome::failed_silently: std::snprintf(code, 16, "%08lX!", static_cast<unsigned long>(o.hr)); return code;
    case outcome::failed_with_description:
        if ((static_cast<unsigned long>(o.hr) & 0xFFFF0000UL) == 0x800A0000UL) return "err " + std::to_string(o.hr & 0xFFFF);
        std::snprintf(code, 16, "%08lX", static_cast<unsigned long>(o.hr));
        return code;
    }
    return "?";
}

// The client's window, owned by the test thread: it serves every call in turn.
class client_window {
public:
    client_window() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"states_e2e";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        RegisterClassW(&wc);
        hwnd = CreateWindowW(L"states_e2e", L"states e2e", WS_OVERLAPPEDWINDOW, 40, 40, 660, 520, nullptr, nullptr,
                             wc.hInstance, nullptr);
        ShowWindow(hwnd, SW_SHOWNORMAL);
        client::pump();
    }
    ~client_window() { DestroyWindow(hwnd); }
    HWND hwnd;
};

// A keyboard of the test's own, acquired for the whole run: under Wine, giving up the last
// acquired device took half a second (its input thread ends), paid by every client's close.
struct held_keyboard {
    explicit held_keyboard(HWND window) {
        if (SUCCEEDED(DirectInput8Create(GetModuleHandleW(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W,
                                         reinterpret_cast<void**>(input.GetAddressOf()), nullptr)) &&
            SUCCEEDED(input->CreateDevice(GUID_SysKeyboard, &device, nullptr)) &&
            SUCCEEDED(device->SetDataFormat(&c_dfDIKeyboard)))
            device->SetCooperativeLevel(window, DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), device->Acquire();
    }
    ComPtr<IDirectInput8W> input;
    ComPtr<IDirectInputDevice8W> device;  // released, and so given up, at the end of the run
};

// Waits for a client thread while serving the window's messages, which the device sends to
// the window from that thread. A call that has not come back after a minute never will: one
// normally takes well under a second.
bool finished(HANDLE thread, const batch& b) {
    size_t seen = b.next;
    DWORD since = GetTickCount();
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 1000, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        client::pump();
        if (b.next != seen) {
            seen = b.next;
            since = GetTickCount();
        } else if (GetTickCount() - since >= 60000) {
            return false;
        }
    }
}

TEST(EveryMember, InEveryStateTheHostSurvivesAndFailuresAreDescribed) {
    client_window win;
    ASSERT_NE(nullptr, win.hwnd);
    held_keyboard keyboard(win.hwnd);
    box_watcher boxes;
    SetUnhandledExceptionFilter(on_crash);
    struct row {
        std::string member;
        std::vector<outcome> results;
    };
    // STATES_ONLY=NAME calls only the members whose name contains NAME (when tracking one down).
    std::wstring only_text;
    if (const char* o = getenv("STATES_ONLY")) only_text.assign(o, o + std::strlen(o));
    const wchar_t* only = only_text.empty() ? nullptr : only_text.c_str();
    std::vector<row> rows;
    std::vector<cell> members;  // in the table's order, those that keep the state first
    for (int keeps = 1; keeps >= 0; --keeps)
        for (short k = 0; k < iface::library.coclass_count; ++k) {
            const auto& cls = iface::library.coclasses[k];
            const auto& table = *cls.default_interface;
            for (short i = 0; i < table.member_count; ++i) {
                const auto& m = table.members[i];
                if ((only && !std::wcsstr(m.name, only)) || changes_state(m) == (keeps == 1)) continue;
                members.push_back({&cls, &m, {}});
                rows.push_back({narrow(cls.name) + "." + label(m), {}});
            }
        }
    for (state s : all_states) {
        const DWORD start = GetTickCount();
        batch b;
        b.where = s;
        b.cells = members;
        b.boxes = &boxes;
        b.window = win.hwnd;
        int clients = 0;
        while (b.next < b.cells.size()) {
            current_batch = &b;
            HANDLE thread = CreateThread(nullptr, 0, run_batch, &b, 0, nullptr);
            ASSERT_NE(nullptr, thread);
            ++clients;
            if (!finished(thread, b)) {
                TerminateThread(thread, 1);
                b.cells[b.next].result.kind = outcome::hung;
                ++b.next;
            }
            CloseHandle(thread);
            current_batch = nullptr;
        }
        for (size_t i = 0; i < b.cells.size(); ++i) rows[i].results.push_back(b.cells[i].result);
        std::printf("state '%s': %zu calls on %d clients in %lu s\n", name_of(s), b.cells.size(), clients,
                    (GetTickCount() - start) / 1000);
        std::fflush(stdout);
    }
    std::printf("\n%-44s", "member \\ state");
    for (state s : all_states) std::printf(" %-14s", name_of(s));
    std::printf("\n");
    for (const auto& r : rows) {
        std::printf("%-44s", r.member.c_str());
        for (const auto& o : r.results) std::printf(" %-14s", short_form(o).c_str());
        std::printf("\n");
    }
    SetUnhandledExceptionFilter(nullptr);

    std::printf("\nok: succeeded; ok+box: succeeded after showing a message box; err N: automation error N;\n"
                "hex: that HRESULT with a description; '!': a failure without a description\n\n");
    for (const auto& r : rows)
        for (size_t i = 0; i < r.results.size(); ++i) {
            const outcome& o = r.results[i];
            if (o.kind == outcome::succeeded || o.kind == outcome::not_run) continue;
            std::printf("%s in state '%s': %s %s\n", r.member.c_str(), name_of(all_states[i]), short_form(o).c_str(),
                        narrow(o.text).c_str());
        }
    std::fflush(stdout);

    for (const auto& r : rows)
        for (size_t i = 0; i < r.results.size(); ++i) {
            const outcome& o = r.results[i];
            const char* where = name_of(all_states[i]);
            EXPECT_NE(outcome::setup_failed, o.kind) << "state '" << where << "' could not be built: " << narrow(o.text);
            EXPECT_NE(outcome::crashed, o.kind) << r.member << " crashed in state '" << where << "': " << narrow(o.text);
            EXPECT_NE(outcome::hung, o.kind) << r.member << " never returned in state '" << where << "'";
            EXPECT_NE(outcome::failed_silently, o.kind)
                << r.member << " failed without a description in state '" << where << "'";
        }
}

}  // namespace
