// A first C++ client of the engine: creates the three classes by ProgID, makes the DirectX
// root objects, lists the display modes, uses the public properties and shows how a failing
// call reports its error. Needs no window.
//
// Build (the header is in the archive's include folder):
//   cl /std:c++17 /EHsc /I..\include hello.cpp ole32.lib oleaut32.lib /link /MANIFEST:NO
//   g++ -std=c++17 -I../include hello.cpp -lole32 -loleaut32 -luuid -o hello.exe
// Run it with the engine registered (regsvr32 dx8engine.dll), or without registering: put
// hello.exe.manifest, dx8engine.dll and Quellbrook.dx8engine.manifest beside hello.exe.
#include <windows.h>
#include <wrl/client.h>
#include <oleauto.h>

#include <cstdio>

#include "dx8engine_iface.h"

using Microsoft::WRL::ComPtr;

namespace {

// Creates a class by its ProgID and asks for its dual interface.
template <class T>
bool create(const wchar_t* progid, REFIID iid, ComPtr<T>& object) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progid, &clsid);
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
    if (FAILED(hr)) std::printf("%ls: not available (0x%08lX)\n", progid, static_cast<unsigned long>(hr));
    return SUCCEEDED(hr);
}

// Prints a failed call with the engine's description of the error.
void report(const char* call, HRESULT hr) {
    ComPtr<IErrorInfo> info;
    BSTR text = nullptr;
    if (GetErrorInfo(0, info.GetAddressOf()) == S_OK) info->GetDescription(&text);
    std::printf("%s failed: 0x%08lX %ls\n", call, static_cast<unsigned long>(hr), text ? text : L"");
    SysFreeString(text);
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) return 1;
    int status = 1;
    {
        ComPtr<iface::_dxmain> main;
        ComPtr<iface::_dxgraphics> graphics;
        ComPtr<iface::_dxinput> input;
        if (create(L"Quellbrook_dx_8engine.dxmain", iface::IID_dxmain, main) &&
            create(L"Quellbrook_dx_8engine.dxgraphics", iface::IID_dxgraphics, graphics) &&
            create(L"Quellbrook_dx_8engine.dxinput", iface::IID_dxinput, input)) {
            HRESULT hr = main->initialize();  // the DirectX root objects
            if (FAILED(hr)) report("initialize", hr);

            graphics->engine_get_display_modes();
            LONG modes = 0;
            graphics->get_numberofmodes(&modes);
            std::printf("display modes: %ld\n", static_cast<long>(modes));
            for (SHORT i = 0; i < modes && i < 3; ++i) {
                BSTR w = nullptr, h = nullptr;
                graphics->engine_show_display_modes_width(&i, &w);
                graphics->engine_show_display_modes_height(&i, &h);
                std::printf("  %ls x %ls\n", w ? w : L"?", h ? h : L"?");
                SysFreeString(w);
                SysFreeString(h);
            }

            // Public variables are plain storage; every method parameter is passed by pointer.
            graphics->put_bRunning(VARIANT_TRUE);
            VARIANT_BOOL running = VARIANT_FALSE, initialised = VARIANT_FALSE;
            graphics->get_bRunning(&running);
            graphics->get_Initialised(&initialised);
            LONG rate = 0;
            graphics->get_FrameRate(&rate);
            std::printf("bRunning = %s, Initialised = %s, FrameRate = %ld\n", running ? "True" : "False",
                        initialised ? "True" : "False", static_cast<long>(rate));

            // Polling the keyboard before engine_initialize is an error with a description.
            hr = input->capturekey();
            if (FAILED(hr)) report("capturekey before engine_initialize", hr);

            main->engine_unload();
            std::printf("hello: done\n");
            status = 0;
        }
    }
    CoUninitialize();
    return status;
}
