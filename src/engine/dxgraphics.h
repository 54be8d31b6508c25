// Class dxgraphics: the graphics engine. Its members are implemented by concern in the
// dxgraphics_*.cpp files; this header holds the instance state they share.
#pragma once
#include "com/object.h"
#include "engine/declarations.h"

namespace engine {

class dxgraphics final : public iface::_dxgraphics_stubs<com::automation_object<iface::_dxgraphics>> {
public:
    dxgraphics() : _dxgraphics_stubs(L"dxgraphics") {}

    // Public variables: plain storage behind a get and a let accessor each.
    HRESULT STDMETHODCALLTYPE get_FrameRate(LONG* value) override { return get(value, FrameRate); }
    HRESULT STDMETHODCALLTYPE put_FrameRate(LONG value) override { return put(FrameRate, value); }
    HRESULT STDMETHODCALLTYPE get_Frameratemax(LONG* value) override { return get(value, Frameratemax); }
    HRESULT STDMETHODCALLTYPE put_Frameratemax(LONG value) override { return put(Frameratemax, value); }
    HRESULT STDMETHODCALLTYPE get_frameratemin(LONG* value) override { return get(value, frameratemin); }
    HRESULT STDMETHODCALLTYPE put_frameratemin(LONG value) override { return put(frameratemin, value); }
    HRESULT STDMETHODCALLTYPE get_bRunning(VARIANT_BOOL* value) override { return get(value, bRunning); }
    HRESULT STDMETHODCALLTYPE put_bRunning(VARIANT_BOOL value) override { return put(bRunning, value); }
    HRESULT STDMETHODCALLTYPE get_displayfps(VARIANT_BOOL* value) override { return get(value, displayfps); }
    HRESULT STDMETHODCALLTYPE put_displayfps(VARIANT_BOOL value) override { return put(displayfps, value); }
    HRESULT STDMETHODCALLTYPE get_Initialised(VARIANT_BOOL* value) override { return get(value, Initialised); }
    HRESULT STDMETHODCALLTYPE put_Initialised(VARIANT_BOOL value) override { return put(Initialised, value); }
    HRESULT STDMETHODCALLTYPE get_numberofmodes(LONG* value) override { return get(value, numberofmodes); }
    HRESULT STDMETHODCALLTYPE put_numberofmodes(LONG value) override { return put(numberofmodes, value); }

private:
    template <class T>
    HRESULT get(T* out, const T& field) {
        return call([&] {
            if (!out) com::raise(E_POINTER);
            *out = field;
        });
    }
    template <class T>
    HRESULT put(T& field, T value) {
        return call([&] { field = value; });
    }

    // Public variables, in their storage order.
    LONG FrameRate = 0;
    LONG Frameratemax = 0;
    LONG frameratemin = 0;
    VARIANT_BOOL bRunning = VARIANT_FALSE;
    VARIANT_BOOL displayfps = VARIANT_FALSE;
    VARIANT_BOOL Initialised = VARIANT_FALSE;
    LONG numberofmodes = 0;
};

}  // namespace engine
