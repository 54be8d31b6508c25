// What the two sources of the frame-cost benchmark share: the text drawn each frame and the
// d3dx9 side of the raw frame (frame_cost_d3dx9.cpp).
#pragma once
#include <windows.h>

// One string and its DrawText format flags.
struct text_item {
    const wchar_t* text;
    DWORD format;
};

// Wine's d3dx9 ID3DXFont (Verdana, bold, font_height as D3DXCreateFont takes it) on a d3d9
// device of its own on the window; nullptr where d3d9 or d3dx9 is not available.
struct d3dx9_text;
d3dx9_text* d3dx9_text_open(HWND window, int font_height);
// One scene of the items drawn with ID3DXFont::DrawText in rect; nothing presented.
void d3dx9_text_draw(d3dx9_text* t, const text_item* items, int count, RECT rect, DWORD color);
void d3dx9_text_present(d3dx9_text* t);
void d3dx9_text_close(d3dx9_text* t);
