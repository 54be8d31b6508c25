// Text of dxgraphics: strings drawn at nine alignments inside the screen area, in a colour
// given as hexadecimal text, with a font described by an OLE standard font.
#include <olectl.h>

#include "engine/dxgraphics.h"
#include "engine/hex_text.h"

namespace engine {
namespace {

// The standard font's dispatch interface and its property DISPIDs.
const IID iid_font_dispatch = {0xBEF6E003, 0xA874, 0x101A, {0x8B, 0xBA, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB}};
constexpr DISPID font_name = 0, font_size = 2, font_bold = 3;

void put_property(IDispatch* object, DISPID id, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    com::check(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                              nullptr),
               L"Setting a property of the font");
}

// The DrawText format flag of an alignment 0, 1 or 2; nothing for any other value.
bool alignment_flag(SHORT value, DWORD first, DWORD second, DWORD third, DWORD& flag) {
    switch (value) {
    case 0: flag = first; return true;
    case 1: flag = second; return true;
    case 2: flag = third; return true;
    default: return false;
    }
}

}  // namespace

HRESULT dxgraphics::text_draw(BSTR* text, SHORT* top, SHORT* left, BSTR* hexcolor) {
    return call([&] {
        com::need_arguments(text, top, left, hexcolor);
        const auto color = static_cast<D3DCOLOR>(long_from_hex_text(L"&HFF", *hexcolor));
        DWORD vertical = 0, horizontal = 0;
        const bool known = alignment_flag(*top, DT_TOP, DT_VCENTER, DT_BOTTOM, vertical) &&
                           alignment_flag(*left, DT_LEFT, DT_CENTER, DT_RIGHT, horizontal);
        text_rect = RECT{1, 1, screen_width, screen_height};
        if (!known) com::raise(com::error_type_mismatch);
        const DWORD format = vertical | horizontal;
        auto& d3dx = com::need(declarations().d3dx8);
        auto& font = com::need(text_font);
        com::check(d3dx.DrawText(&font, color, *text, SysStringLen(*text), &text_rect, format),
                   L"D3DX8.DrawText");
    });
}

HRESULT dxgraphics::text_change(SHORT* size, BSTR* fontname, VARIANT_BOOL* boldtext) {
    return call([&] {
        com::need_arguments(size, fontname, boldtext);
        make_font(*fontname ? *fontname : L"", *size, *boldtext);
    });
}

// Describes the font in the standard font object (made on first use), then makes the
// device font from its GDI handle. A failure leaves the earlier device font in use.
void dxgraphics::make_font(const wchar_t* name, SHORT size, VARIANT_BOOL bold) {
    if (!font_object)
        com::check(CoCreateInstance(CLSID_StdFont, nullptr, CLSCTX_INPROC_SERVER, iid_font_dispatch,
                                    reinterpret_cast<void**>(font_object.GetAddressOf())),
                   L"Creating the standard font");
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(name);
    if (!V_BSTR(&v)) throw std::bad_alloc();
    try {
        put_property(font_object.Get(), font_name, v);
    } catch (...) {
        VariantClear(&v);
        throw;
    }
    VariantClear(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = size;
    put_property(font_object.Get(), font_size, v);
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = bold;
    put_property(font_object.Get(), font_bold, v);
    com::check(font_object.As(&font_interface), L"QueryInterface(IFont)");
    HFONT handle = nullptr;
    com::check(font_interface->get_hFont(&handle), L"IFont.hFont");
    auto& s = declarations();
    auto& d3dx = com::need(s.d3dx8);
    ComPtr<dx::D3DXFont> font;
    com::check(d3dx.CreateFont(&com::need(s.d3ddevice), handle, &font),
               L"D3DX8.CreateFont");
    text_font = font;
}

}  // namespace engine
