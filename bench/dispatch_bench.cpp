// The cost of late binding: one IDispatch::Invoke of model_draw, model_move and text_draw
// against the direct vtable call of the same method on the same object, and against the
// platform's own DispInvoke (oleaut32 driving the vtable from our type library's ITypeInfo of
// the interface).
//
// Our Invoke is timed twice: with script-shaped arguments, as VBScript passes variables
// (VT_BYREF|VT_VARIANT pointing at variants: whole numbers as VT_I2, positions as VT_R8, the
// way a script computes them each frame, text as VT_BSTR), and with the arguments DispInvoke
// handles correctly (by value, each already of its parameter's type), the same variants given
// to DispInvoke. DISPIDs are resolved once by GetIDsOfNames. Every call must succeed; the
// methods run for real on a 64 x 64 device with test.x loaded, inside a scene.
//
// Figures are nanoseconds per call (the median of rounds); "over vtable" is what the way of
// calling adds to the call itself, which is the dispatcher's own cost. The allocations are
// the engine DLL's own (allocation_counter.h): copies that oleaut32 makes inside a call the
// engine makes to it, such as VariantChangeTypeEx copying a string, are not among them.
//
//   dispatch_bench [rounds]      (XFILES names the folder of test.x)
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "engine_client.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int calls_per_round = 100;

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

VARIANT of_i2(SHORT v) {
    VARIANT x;
    V_VT(&x) = VT_I2;
    V_I2(&x) = v;
    return x;
}
VARIANT of_r4(float v) {
    VARIANT x;
    V_VT(&x) = VT_R4;
    V_R4(&x) = v;
    return x;
}
VARIANT of_r8(double v) {
    VARIANT x;
    V_VT(&x) = VT_R8;
    V_R8(&x) = v;
    return x;
}
VARIANT of_text(const wchar_t* s) {
    VARIANT x;
    V_VT(&x) = VT_BSTR;
    V_BSTR(&x) = SysAllocString(s);
    return x;
}
VARIANT by_ref(VARIANT* target) {
    VARIANT x;
    V_VT(&x) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&x) = target;
    return x;
}

// One method called four ways.
struct method_case {
    const wchar_t* name;
    DISPID id = DISPID_UNKNOWN;
    std::vector<VARIANT> script_values;  // the script's variables, first argument first
    std::vector<VARIANT> script_args;    // rgvarg: by-reference to them, last argument first
    std::vector<VARIANT> exact_args;     // rgvarg: by value, of the parameter types, last first
    std::function<HRESULT()> vtable;
    std::function<void()> refresh;       // puts back what a script would hold before each call
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    const char* xfiles = getenv("XFILES");
    if (!xfiles) {
        std::fprintf(stderr, "XFILES must name the folder of test.x\n");
        return 2;
    }
    std::wstring folder = L"Z:";
    for (const char* c = xfiles; *c; ++c) folder += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    folder += L"\\";
    CoInitialize(nullptr);

    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"dispatch_bench";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(L"dispatch_bench", L"dispatch", WS_POPUP | WS_VISIBLE, 20, 20, 64, 64, nullptr,
                                nullptr, wc.hInstance, nullptr);
    pump();
    engine_client engine;
    if (!engine.open(window, 64, 64)) return 1;
    iface::_dxgraphics* g = engine.graphics.Get();
    BSTR path = SysAllocString(folder.c_str()), file = SysAllocString(L"test.x");
    HRESULT loaded = g->model_load(&path, &file);
    SysFreeString(path);
    SysFreeString(file);
    if (FAILED(loaded)) {
        std::fprintf(stderr, "the engine cannot load test.x: 0x%08lX\n", static_cast<unsigned long>(loaded));
        return 1;
    }
    ComPtr<IDispatch> dispatch;
    engine.graphics.As(&dispatch);

    // The interface's vtable description, for DispInvoke.
    ComPtr<ITypeLib> lib;
    ComPtr<ITypeInfo> described, vtable_info;
    HREFTYPE ref = 0;
    if (FAILED(LoadRegTypeLib(iface::library.libid, iface::library.major, iface::library.minor, LOCALE_NEUTRAL,
                              lib.GetAddressOf())) ||
        FAILED(lib->GetTypeInfoOfGuid(iface::IID_dxgraphics, described.GetAddressOf())) ||
        FAILED(described->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) ||
        FAILED(described->GetRefTypeInfo(ref, vtable_info.GetAddressOf()))) {
        std::fprintf(stderr, "the registered type library does not describe _dxgraphics\n");
        return 1;
    }

    std::vector<method_case> cases(3);
    // model_draw 0
    SHORT draw_index = 0;
    cases[0].name = L"model_draw";
    cases[0].script_values = {of_i2(0)};
    cases[0].exact_args = {of_i2(0)};
    cases[0].vtable = [&] { return g->model_draw(&draw_index); };
    // model_move 0, x, y, z
    SHORT move_index = 0;
    float mx = 0.25f, my = -0.5f, mz = 1.5f;
    cases[1].name = L"model_move";
    cases[1].script_values = {of_i2(0), of_r8(0.25), of_r8(-0.5), of_r8(1.5)};
    cases[1].exact_args = {of_r4(1.5f), of_r4(-0.5f), of_r4(0.25f), of_i2(0)};
    cases[1].vtable = [&] { return g->model_move(&move_index, &mx, &my, &mz); };
    cases[1].refresh = [&cases] {
        auto& v = cases[1].script_values;
        v[1] = of_r8(0.25), v[2] = of_r8(-0.5), v[3] = of_r8(1.5);  // written back as Single: a script recomputes
    };
    // text_draw "Score: 12345", 0, 0, "CCCCFF"
    BSTR text = SysAllocString(L"Score: 12345"), color = SysAllocString(L"CCCCFF");
    SHORT top = 0, left = 0;
    cases[2].name = L"text_draw";
    cases[2].script_values = {of_text(L"Score: 12345"), of_i2(0), of_i2(0), of_text(L"CCCCFF")};
    cases[2].exact_args = {of_text(L"CCCCFF"), of_i2(0), of_i2(0), of_text(L"Score: 12345")};
    cases[2].vtable = [&] { return g->text_draw(&text, &top, &left, &color); };

    for (auto& c : cases) {
        for (auto it = c.script_values.rbegin(); it != c.script_values.rend(); ++it) c.script_args.push_back(by_ref(&*it));
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        if (FAILED(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &c.id))) {
            std::fprintf(stderr, "GetIDsOfNames does not know %ls\n", c.name);
            return 1;
        }
    }

    auto ours = [&](method_case& c, std::vector<VARIANT>& args) {
        DISPPARAMS dp{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        return dispatch->Invoke(c.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
    };
    auto platform = [&](method_case& c) {
        DISPPARAMS dp{c.exact_args.data(), nullptr, static_cast<UINT>(c.exact_args.size()), 0};
        return DispInvoke(g, vtable_info.Get(), c.id, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
    };
    enum way { vtable, invoke_script, invoke_exact, disp_invoke, ways };
    const char* way_names[ways] = {"vtable call", "our Invoke, script args", "our Invoke, exact args",
                                   "DispInvoke, exact args"};
    auto one_call = [&](method_case& c, int w) -> HRESULT {
        switch (w) {
        case vtable: return c.vtable();
        case invoke_script:
            if (c.refresh) c.refresh();
            return ours(c, c.script_args);
        case invoke_exact: return ours(c, c.exact_args);
        default: return platform(c);
        }
    };

    // Every way must work before it is timed.
    g->scene_begin();
    for (auto& c : cases)
        for (int w = 0; w < ways; ++w) {
            HRESULT hr = one_call(c, w);
            if (hr != S_OK) {
                std::fprintf(stderr, "%ls by %s failed: 0x%08lX\n", c.name, way_names[w], static_cast<unsigned long>(hr));
                return 1;
            }
        }
    g->scene_end();

    std::printf("ns per call, median of %d rounds of %d calls; methods run on a 64x64 device with test.x\n", rounds,
                calls_per_round);
    for (auto& c : cases) {
        std::vector<double> t[ways];
        // Each way in a scene of its own, their order turning from round to round, so that none
        // pays more often for the drawing the device catches up on.
        for (int r = 0; r < rounds; ++r)
            for (int k = 0; k < ways; ++k) {
                const int w = (r + k) % ways;
                g->scene_begin();
                auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < calls_per_round; ++i) one_call(c, w);
                t[w].push_back(std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
                               calls_per_round);
                g->scene_end();
                pump();
            }
        // The engine's own heap allocations in one call of each way.
        long allocations[ways];
        {
            allocation_counter counter(GetModuleHandleW(L"dx8engine.dll"));
            g->scene_begin();
            for (int w = 0; w < ways; ++w) {
                counter.reset();
                for (int i = 0; i < 10; ++i) one_call(c, w);
                allocations[w] = counter.total() / 10;
            }
            g->scene_end();
        }
        double m[ways];
        for (int w = 0; w < ways; ++w) m[w] = median(t[w]);
        std::printf("%ls\n", c.name);
        for (int w = 0; w < ways; ++w) {
            std::printf("  %-26s %8.0f ns", way_names[w], m[w]);
            if (w != vtable) std::printf("   over vtable %7.0f ns", m[w] - m[vtable]);
            else std::printf("   %22s", "");
            std::printf("   engine allocations per call: %ld\n", allocations[w]);
        }
        std::printf("  ratio our Invoke / DispInvoke, exact args   %6.2f   (over vtable %.2f)   (goal: at most 1)\n",
                    m[invoke_exact] / m[disp_invoke], (m[invoke_exact] - m[vtable]) / (m[disp_invoke] - m[vtable]));
        std::printf("  ratio our Invoke script args / DispInvoke   %6.2f   (over vtable %.2f)\n",
                    m[invoke_script] / m[disp_invoke], (m[invoke_script] - m[vtable]) / (m[disp_invoke] - m[vtable]));
        std::printf("  ratio our Invoke script args / vtable       %6.2f\n", m[invoke_script] / m[vtable]);
    }

    for (auto& c : cases) {
        for (auto& v : c.script_values) VariantClear(&v);
        for (auto& v : c.exact_args) VariantClear(&v);
    }
    SysFreeString(text);
    SysFreeString(color);
    vtable_info.Reset();
    described.Reset();
    lib.Reset();
    dispatch.Reset();
    engine.close();
    CoUninitialize();
    return 0;
}
