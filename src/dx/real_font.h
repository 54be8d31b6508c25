// Our D3DXFont: glyphs of a GDI font rasterised with GDI into a texture atlas, cached, and
// drawn as alpha-blended textured quads in the text's colour, clipped to the layout rectangle.
#pragma once
#include <windows.h>
#include <d3d8.h>

#include "dx/graphics.h"

namespace dx {

// Makes a font for the device from a copy of the given GDI font (the caller keeps its own).
HRESULT create_real_font(Direct3DDevice8* device, HFONT font, ComPtr<D3DXFont>& out);

// Draws with a font made by create_real_font; format holds the DT_ alignment flags.
HRESULT draw_real_font(D3DXFont* font, D3DCOLOR color, const wchar_t* text, UINT length, const RECT& rect,
                       DWORD format);

}  // namespace dx
