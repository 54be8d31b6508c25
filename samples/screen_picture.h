// Pictures of what a window shows on the screen, saved as PNG files.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct screen_picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top row first

    // True when every pixel is black: the window has not reached the screen yet.
    bool blank() const;
};

// Reads the client area of the window back from the screen. The window's own DC reads black
// under Wine, the screen's does not.
screen_picture capture_client_area(HWND window);

// Writes the picture as an 8-bit RGB PNG; false when the file cannot be written.
bool save_png(const screen_picture& picture, const std::wstring& path);
