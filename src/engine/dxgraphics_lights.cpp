// Lights of dxgraphics: spot, directional and point lights in the object's light table,
// switched and recoloured on the device, and the ambient level from a colour text.
#include "engine/dxgraphics.h"
#include "engine/hex_text.h"

namespace engine {
namespace {

D3DCOLORVALUE rgb(float r, float g, float b) { return {r, g, b, 0.0f}; }

// Degrees to radians with the single-precision pi: the quotient first, then the product in
// double precision stored as the nearest Single.
float radians(LONG degrees) {
    const float per_degree = 3.1415927f / 180.0f;
    return static_cast<float>(static_cast<double>(degrees) * static_cast<double>(per_degree));
}

}  // namespace

// The steps every create method shares: the white material first (also when the table is
// full), then the lowest free slot, the light on the device, and the switch only for True.
void dxgraphics::create_light(const D3DLIGHT8& light, VARIANT_BOOL enabled) {
    auto& device = com::need(declarations().d3ddevice);
    D3DMATERIAL8 white{};
    white.Diffuse = white.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    com::check(device.SetMaterial(white), L"Direct3DDevice8.SetMaterial");
    int slot = 0;
    while (slot < light_slots && lights[slot].in_use) ++slot;
    if (slot == light_slots) return;
    lights[slot].light = light;
    lights[slot].in_use = VARIANT_TRUE;
    // A spot or point light whose three attenuation factors are all zero divides by zero: the
    // device then draws the whole scene black, whatever else lights it. Such a light gets a
    // constant intensity over its range instead.
    auto& l = lights[slot].light;
    if (l.Type != D3DLIGHT_DIRECTIONAL && l.Attenuation0 == 0 && l.Attenuation1 == 0 && l.Attenuation2 == 0)
        l.Attenuation0 = 1.0f;
    com::check(device.SetLight(slot, lights[slot].light), L"Direct3DDevice8.SetLight");
    if (enabled == VARIANT_TRUE) com::check(device.LightEnable(slot, TRUE), L"Direct3DDevice8.LightEnable");
}

HRESULT dxgraphics::light_create_spot(float* posx, float* posy, float* posz, float* dirx, float* diry, float* dirz,
                                      float* r, float* g, float* b, LONG* innercircle, LONG* outercircle, LONG* range,
                                      VARIANT_BOOL* enabled) {
    return call([&] {
        com::need_arguments(posx, posy, posz, dirx, diry, dirz, r, g, b, innercircle, outercircle, range, enabled);
        D3DLIGHT8 l{};
        l.Type = D3DLIGHT_SPOT;
        l.Diffuse = rgb(*r, *g, *b);
        l.Position = make_vector(*posx, *posy, *posz);
        l.Direction = make_vector(*dirx, *diry, *dirz);
        l.Range = static_cast<float>(*range);
        l.Theta = radians(*innercircle);
        l.Phi = radians(*outercircle);
        create_light(l, *enabled);
    });
}

HRESULT dxgraphics::light_create_directional(float* posx, float* posy, float* posz, float* dirx, float* diry,
                                             float* dirz, float* r, float* g, float* b, LONG* range,
                                             VARIANT_BOOL* enabled) {
    return call([&] {
        com::need_arguments(posx, posy, posz, dirx, diry, dirz, r, g, b, range, enabled);
        D3DLIGHT8 l{};
        l.Type = D3DLIGHT_DIRECTIONAL;
        l.Diffuse = rgb(*r, *g, *b);
        l.Position = make_vector(*posx, *posy, *posz);
        l.Direction = make_vector(*dirx, *diry, *dirz);
        l.Range = static_cast<float>(*range);
        create_light(l, *enabled);
    });
}

HRESULT dxgraphics::light_create_point(float* posx, float* posy, float* posz, float* range, float* Attenuation1,
                                       float* r, float* g, float* b, VARIANT_BOOL* enabled) {
    return call([&] {
        com::need_arguments(posx, posy, posz, range, Attenuation1, r, g, b, enabled);
        D3DLIGHT8 l{};
        l.Type = D3DLIGHT_POINT;
        l.Diffuse = rgb(*r, *g, *b);
        l.Position = make_vector(*posx, *posy, *posz);
        l.Range = *range;
        l.Attenuation1 = *Attenuation1;
        create_light(l, *enabled);
    });
}

// The ambient level: "&h" and the digits, converted as the automation runtime converts them.
HRESULT dxgraphics::light_ambience(BSTR* color) {
    return call([&] {
        com::need_arguments(color);
        const LONG value = long_from_hex_text(L"&h", *color);
        com::check(com::need(declarations().d3ddevice).SetRenderState(D3DRS_AMBIENT, static_cast<DWORD>(value)),
                   L"Direct3DDevice8.SetRenderState");
    });
}

// Passes the switch to the device for any index, both values widened with their sign.
HRESULT dxgraphics::light_switch(SHORT* enabled, SHORT* index) {
    return call([&] {
        com::need_arguments(enabled, index);
        com::check(com::need(declarations().d3ddevice)
                       .LightEnable(static_cast<DWORD>(static_cast<LONG>(*index)), static_cast<LONG>(*enabled)),
                   L"Direct3DDevice8.LightEnable");
    });
}

// Sets the diffuse colour of a slot (whole numbers, unscaled) and sends the whole stored
// light to the device.
HRESULT dxgraphics::light_change_color(LONG* r, LONG* g, LONG* b, SHORT* index) {
    return call([&] {
        com::need_arguments(r, g, b, index);
        if (*index < 0 || *index >= light_slots) com::raise(com::error_subscript);
        auto& l = lights[*index].light;
        l.Diffuse.r = static_cast<float>(*r);
        l.Diffuse.g = static_cast<float>(*g);
        l.Diffuse.b = static_cast<float>(*b);
        com::check(com::need(declarations().d3ddevice).SetLight(*index, l), L"Direct3DDevice8.SetLight");
    });
}

}  // namespace engine
