// What every C++ client of the registered engine does first: create the classes by ProgID,
// make the root objects, hand over a window and open a windowed device on it.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>

#include "dx8engine_iface.h"

struct engine_client {
    Microsoft::WRL::ComPtr<iface::_dxmain> main;
    Microsoft::WRL::ComPtr<iface::_dxgraphics> graphics;

    // Creates dxmain and dxgraphics; false, with a message, when the engine is not registered.
    bool create() {
        return (main || make(L"Quellbrook_dx_8engine.dxmain", iface::IID_dxmain, main)) &&
               (graphics || make(L"Quellbrook_dx_8engine.dxgraphics", iface::IID_dxgraphics, graphics));
    }

    // Creates a dxinput object for the keyboard.
    bool create_input(Microsoft::WRL::ComPtr<iface::_dxinput>& input) {
        return make(L"Quellbrook_dx_8engine.dxinput", iface::IID_dxinput, input);
    }

    // Creates a dxmodels object, which turns, scales and animates the models of the thread.
    bool create_models(Microsoft::WRL::ComPtr<iface::_dxmodels>& models) {
        return make(L"Quellbrook_dx_8engine.dxmodels", iface::IID_dxmodels, models);
    }

    // Creates the classes and the DirectX root objects (dxmain.initialize), once.
    HRESULT initialize() {
        if (!create()) return REGDB_E_CLASSNOTREG;
        if (initialized_) return S_OK;
        HRESULT hr = main->initialize();
        initialized_ = SUCCEEDED(hr);
        return hr;
    }

    // Opens a width x height windowed device on the window, creating the DirectX root objects
    // first unless the client already has; false, with a message, when the engine is not
    // registered or the set-up did not complete.
    bool open(HWND window, SHORT width, SHORT height) {
        if (!create()) return false;
        initialize();
        LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
        graphics->engine_load(&handle);
        SHORT windowed = 1, samples = 2;
        VARIANT_BOOL off = VARIANT_FALSE;
        float zero = 0;
        graphics->engine_Initialise(&windowed, &width, &height, &off, &samples, &off, &zero, &zero);
        VARIANT_BOOL ready = VARIANT_FALSE;
        graphics->get_Initialised(&ready);
        if (!ready) std::fprintf(stderr, "the device could not be opened\n");
        return ready != VARIANT_FALSE;
    }

    // Gives up the device and the root objects.
    void close() {
        if (graphics) graphics->engine_end();
        if (main) main->engine_unload();
        graphics.Reset();
        main.Reset();
        initialized_ = false;
    }

private:
    bool initialized_ = false;

    template <class I>
    static bool make(const wchar_t* progid, REFIID iid, Microsoft::WRL::ComPtr<I>& out) {
        CLSID clsid{};
        if (SUCCEEDED(CLSIDFromProgID(progid, &clsid)))
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out.GetAddressOf()));
        if (!out) std::fprintf(stderr, "cannot create %ls: is the DLL registered?\n", progid);
        return out != nullptr;
    }
};
