#include "screen_picture.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace {

void put_u32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

// Appends one chunk: length, type, data and the CRC of type and data.
void put_chunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data) {
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, out.data() + start, static_cast<uInt>(out.size() - start));
    put_u32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

bool screen_picture::blank() const {
    return std::all_of(pixels.begin(), pixels.end(), [](std::uint32_t p) { return (p & 0xFFFFFF) == 0; });
}

screen_picture capture_client_area(HWND window) {
    screen_picture picture;
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    picture.width = client.right - client.left;
    picture.height = client.bottom - client.top;
    if (picture.width <= 0 || picture.height <= 0) return picture;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = picture.width;
    bi.bmiHeader.biHeight = -picture.height;  // top row first
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib && bits) {
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, picture.width, picture.height, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        const auto* p = static_cast<const std::uint32_t*>(bits);
        picture.pixels.assign(p, p + static_cast<size_t>(picture.width) * picture.height);
        for (auto& pixel : picture.pixels) pixel &= 0xFFFFFF;
        SelectObject(memory, old);
        DeleteObject(dib);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return picture;
}

bool save_png(const screen_picture& picture, const std::wstring& path) {
    if (picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height || picture.pixels.empty())
        return false;
    // Rows of filter type 0 (none) followed by red, green and blue bytes.
    const size_t row = 1 + 3 * static_cast<size_t>(picture.width);
    std::vector<unsigned char> raw(row * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        unsigned char* out = raw.data() + y * row;
        *out++ = 0;
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t p = picture.pixels[static_cast<size_t>(y) * picture.width + x];
            *out++ = static_cast<unsigned char>(p >> 16);
            *out++ = static_cast<unsigned char>(p >> 8);
            *out++ = static_cast<unsigned char>(p);
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK) return false;
    packed.resize(packed_size);

    std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    put_u32(header, static_cast<std::uint32_t>(picture.width));
    put_u32(header, static_cast<std::uint32_t>(picture.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter choice, no interlace
    put_chunk(file, "IHDR", header);
    put_chunk(file, "IDAT", packed);
    put_chunk(file, "IEND", {});

    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && written;
}
