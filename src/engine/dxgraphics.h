// Class dxgraphics: the graphics engine. Its members are implemented by concern in the
// dxgraphics_*.cpp files; this header holds the instance state they share.
#pragma once
#include <ocidl.h>

#include "com/object.h"
#include "engine/declarations.h"

namespace engine {

class dxgraphics final : public com::automation_object<iface::_dxgraphics> {
public:
    dxgraphics() : automation_object(L"dxgraphics") {}

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

    // Camera, fill modes and float conversion (dxgraphics_camera.cpp).
    HRESULT STDMETHODCALLTYPE FloatToDWord(float* f, LONG* result) override;
    HRESULT STDMETHODCALLTYPE camera_position(float* x, float* y, float* z) override;
    HRESULT STDMETHODCALLTYPE camera_lookat(float* x, float* y, float* z) override;
    HRESULT STDMETHODCALLTYPE engine_render_wireframe_mode() override;
    HRESULT STDMETHODCALLTYPE engine_render_solid_mode() override;
    HRESULT STDMETHODCALLTYPE engine_render_point_mode() override;

    // Device set-up and shutdown (dxgraphics_device.cpp).
    HRESULT STDMETHODCALLTYPE engine_load(LONG* framehwnd) override;
    HRESULT STDMETHODCALLTYPE engine_Initialise(SHORT* window, SHORT* width, SHORT* height,
                                                VARIANT_BOOL* antialiasing_on, SHORT* antialiasing_samples,
                                                VARIANT_BOOL* fog_on, float* fog_start, float* fog_end) override;
    HRESULT STDMETHODCALLTYPE engine_end() override;

    // Frame cycle and frame rate (dxgraphics_frame.cpp).
    HRESULT STDMETHODCALLTYPE scene_begin() override;
    HRESULT STDMETHODCALLTYPE scene_end() override;

    // Display-mode listing (dxgraphics_modes.cpp).
    HRESULT STDMETHODCALLTYPE engine_get_display_modes() override;
    HRESULT STDMETHODCALLTYPE engine_show_display_modes_width(SHORT* number, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE engine_show_display_modes_height(SHORT* number, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE engine_show_display_modes_depth(SHORT* number, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE engine_show_display_modes_hertz(SHORT* number, BSTR* result) override;

    // Text (dxgraphics_text.cpp).
    HRESULT STDMETHODCALLTYPE text_draw(BSTR* text, SHORT* top, SHORT* left, BSTR* hexcolor) override;
    HRESULT STDMETHODCALLTYPE text_change(SHORT* size, BSTR* fontname, VARIANT_BOOL* boldtext) override;

    // Models (dxgraphics_models.cpp).
    HRESULT STDMETHODCALLTYPE model_load(BSTR* path, BSTR* xfilename) override;
    HRESULT STDMETHODCALLTYPE model_move(SHORT* index, float* x, float* y, float* z) override;
    HRESULT STDMETHODCALLTYPE model_draw(SHORT* index) override;

    // Lights (dxgraphics_lights.cpp).
    HRESULT STDMETHODCALLTYPE light_create_spot(float* posx, float* posy, float* posz, float* dirx, float* diry,
                                                float* dirz, float* r, float* g, float* b, LONG* innercircle,
                                                LONG* outercircle, LONG* range, VARIANT_BOOL* enabled) override;
    HRESULT STDMETHODCALLTYPE light_create_directional(float* posx, float* posy, float* posz, float* dirx,
                                                       float* diry, float* dirz, float* r, float* g, float* b,
                                                       LONG* range, VARIANT_BOOL* enabled) override;
    HRESULT STDMETHODCALLTYPE light_ambience(BSTR* color) override;
    HRESULT STDMETHODCALLTYPE light_create_point(float* posx, float* posy, float* posz, float* range,
                                                 float* Attenuation1, float* r, float* g, float* b,
                                                 VARIANT_BOOL* enabled) override;
    HRESULT STDMETHODCALLTYPE light_switch(SHORT* enabled, SHORT* index) override;
    HRESULT STDMETHODCALLTYPE light_change_color(LONG* r, LONG* g, LONG* b, SHORT* index) override;

private:
    friend struct dxgraphics_access;  // tests reach the private frame counter and font through it

    static D3DVECTOR make_vector(float x, float y, float z) { return {x, y, z}; }
    LONG float_to_dword(float f);
    void set_up_device(SHORT window, SHORT width, SHORT height, VARIANT_BOOL antialiasing_on,
                       SHORT antialiasing_samples, VARIANT_BOOL fog_on, float fog_start, float fog_end);
    void make_font(const wchar_t* name, SHORT size, VARIANT_BOOL bold);
    HRESULT show_display_mode(SHORT* number, BSTR* result, std::wstring display_mode::*field);
    HRESULT set_fill_mode(DWORD mode);
    void create_light(const D3DLIGHT8& light, VARIANT_BOOL enabled);

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

    // The window, the screen size that bounds text, and the transforms.
    LONG frame_window = 0;
    LONG screen_width = 0;
    LONG screen_height = 0;
    D3DMATRIX world_matrix{};
    D3DMATRIX view_matrix{};
    D3DMATRIX projection_matrix{};
    D3DVECTOR camera_eye{};
    D3DVECTOR camera_target{};

    // Frame-rate bookkeeping.
    LONG fps_last_tick = 0;
    LONG fps_frame_count = 0;

    // The text font: its description (an OLE standard font), its IFont view, the device font.
    ComPtr<IDispatch> font_object;
    ComPtr<IFont> font_interface;
    ComPtr<dx::D3DXFont> text_font;
    RECT text_rect{};

    // The light table: the slot index is the device's light index; slots are never freed.
    struct light_entry {
        D3DLIGHT8 light{};
        VARIANT_BOOL in_use = VARIANT_FALSE;
    };
    static constexpr int light_slots = 201;  // indices 0 to 200
    std::array<light_entry, light_slots> lights{};
};

}  // namespace engine
