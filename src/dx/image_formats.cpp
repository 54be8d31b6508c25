#include "dx/image_formats.h"

#include <algorithm>

namespace dx {
namespace {

// A bounds-checked view of the file's bytes.
struct reader {
    const std::vector<unsigned char>& b;
    size_t at = 0;
    bool has(size_t n) const { return n <= b.size() && at <= b.size() - n; }
    std::uint32_t u8() { return b[at++]; }
    std::uint32_t u16() {
        std::uint32_t v = b[at] | (b[at + 1] << 8);
        at += 2;
        return v;
    }
    std::uint32_t u32() {
        std::uint32_t v = b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
        at += 4;
        return v;
    }
};

std::uint32_t rgb565(std::uint32_t c) {
    std::uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return ((r * 255 / 31) << 16) | ((g * 255 / 63) << 8) | (b * 255 / 31);
}

}  // namespace

bool decode_tga(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail) {
    reader r{bytes};
    if (!r.has(18)) return detail = L"truncated TGA header", false;
    const std::uint32_t id_length = r.u8(), map_type = r.u8(), type = r.u8();
    r.at += 5;  // colour map fields
    r.at += 4;  // origin
    const std::uint32_t width = r.u16(), height = r.u16(), depth = r.u8(), descriptor = r.u8();
    if (map_type != 0 || (type != 2 && type != 3 && type != 10 && type != 11))
        return detail = L"unsupported TGA type (colour-mapped or unknown)", false;
    const bool gray = type == 3 || type == 11, rle = type >= 9;
    const std::uint32_t bpp = depth / 8;
    if (!(gray ? depth == 8 : (depth == 24 || depth == 32)) || width == 0 || height == 0 || width > max_image_side ||
        height > max_image_side)
        return detail = L"unsupported TGA pixel depth or size", false;
    r.at += id_length;
    if (!rle && !r.has(static_cast<size_t>(width) * height * bpp)) return detail = L"truncated TGA pixels", false;
    // A run-length packet covers at most 128 texels and takes a count byte and one texel, so a
    // file with fewer bytes cannot fill the image; checked before the pixels are allocated.
    const size_t fewest_packets = (static_cast<size_t>(width) * height + 127) / 128;
    if (rle && !r.has(fewest_packets * (1 + bpp))) return detail = L"truncated TGA run", false;
    out.width = width;
    out.height = height;
    out.has_alpha = depth == 32;
    out.pixels.assign(static_cast<size_t>(width) * height, 0);
    auto pixel = [&]() -> std::uint32_t {
        if (gray) {
            std::uint32_t g = r.u8();
            return 0xFF000000u | (g << 16) | (g << 8) | g;
        }
        std::uint32_t b = r.u8(), g = r.u8(), rr = r.u8(), a = bpp == 4 ? r.u8() : 0xFF;
        return (a << 24) | (rr << 16) | (g << 8) | b;
    };
    const size_t total = out.pixels.size();
    size_t n = 0;
    std::vector<std::uint32_t> linear(total);
    while (n < total) {
        if (rle) {
            if (!r.has(1)) return detail = L"truncated TGA run", false;
            std::uint32_t head = r.u8(), count = (head & 0x7F) + 1;
            if (n + count > total) return detail = L"TGA run past the image", false;
            if (head & 0x80) {
                if (!r.has(bpp)) return detail = L"truncated TGA run", false;
                std::uint32_t p = pixel();
                std::fill_n(linear.begin() + n, count, p);
            } else {
                if (!r.has(static_cast<size_t>(count) * bpp)) return detail = L"truncated TGA run", false;
                for (std::uint32_t i = 0; i < count; ++i) linear[n + i] = pixel();
            }
            n += count;
        } else {
            linear[n++] = pixel();
        }
    }
    const bool top_down = descriptor & 0x20, right_to_left = descriptor & 0x10;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t sy = top_down ? y : height - 1 - y, sx = right_to_left ? width - 1 - x : x;
            out.pixels[static_cast<size_t>(y) * width + x] = linear[static_cast<size_t>(sy) * width + sx];
        }
    return true;
}

bool decode_dds(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail) {
    reader r{bytes};
    if (!r.has(128)) return detail = L"truncated DDS header", false;
    r.at = 4;
    r.u32();  // header size
    r.u32();  // flags
    const std::uint32_t height = r.u32(), width = r.u32();
    r.at = 76;  // the pixel format record, after the magic and 72 bytes of header
    r.u32();        // size
    const std::uint32_t pf_flags = r.u32(), fourcc = r.u32(), bits = r.u32();
    const std::uint32_t rmask = r.u32(), gmask = r.u32(), bmask = r.u32(), amask = r.u32();
    r.at = 128;
    if (width == 0 || height == 0 || width > max_image_side || height > max_image_side) return detail = L"bad DDS size", false;
    out.width = width;
    out.height = height;
    // The pixels are allocated only once the file is known to hold them.
    if (pf_flags & 0x4) {  // FOURCC: block compression
        const int kind = fourcc == 0x31545844 ? 1 : fourcc == 0x33545844 ? 3 : fourcc == 0x35545844 ? 5 : 0;
        if (!kind) return detail = L"unsupported DDS compression", false;
        const size_t block_bytes = kind == 1 ? 8 : 16;
        const size_t blocks = static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4);
        if (!r.has(blocks * block_bytes)) return detail = L"truncated DDS blocks", false;
        out.pixels.assign(static_cast<size_t>(width) * height, 0);
        out.has_alpha = kind != 1;
        for (std::uint32_t by = 0; by < (height + 3) / 4; ++by)
            for (std::uint32_t bx = 0; bx < (width + 3) / 4; ++bx) {
                std::uint32_t alpha[16];
                std::fill_n(alpha, 16, 255u);
                if (kind == 3) {
                    for (int i = 0; i < 16; i += 2) {
                        std::uint32_t v = r.u8();
                        alpha[i] = (v & 15) * 17, alpha[i + 1] = (v >> 4) * 17;
                    }
                } else if (kind == 5) {
                    std::uint32_t a0 = r.u8(), a1 = r.u8();
                    unsigned long long codes = 0;
                    for (int i = 0; i < 6; ++i) codes |= static_cast<unsigned long long>(r.u8()) << (8 * i);
                    for (int i = 0; i < 16; ++i) {
                        std::uint32_t c = (codes >> (3 * i)) & 7;
                        if (c == 0) alpha[i] = a0;
                        else if (c == 1) alpha[i] = a1;
                        else if (a0 > a1) alpha[i] = ((8 - c) * a0 + (c - 1) * a1) / 7;
                        else alpha[i] = c == 6 ? 0 : c == 7 ? 255 : ((6 - c) * a0 + (c - 1) * a1) / 5;
                    }
                }
                std::uint32_t c0 = r.u16(), c1 = r.u16(), codes = r.u32();
                std::uint32_t palette[4] = {rgb565(c0), rgb565(c1), 0, 0};
                auto mix = [](std::uint32_t a, std::uint32_t b, int wa, int wb, int d) {
                    std::uint32_t out = 0;
                    for (int s = 0; s < 24; s += 8)
                        out |= ((((a >> s) & 255) * wa + ((b >> s) & 255) * wb) / d) << s;
                    return out;
                };
                bool transparent_black = kind == 1 && c0 <= c1;
                if (!transparent_black) {
                    palette[2] = mix(palette[0], palette[1], 2, 1, 3);
                    palette[3] = mix(palette[0], palette[1], 1, 2, 3);
                } else {
                    palette[2] = mix(palette[0], palette[1], 1, 1, 2);
                    out.has_alpha = true;
                }
                for (int i = 0; i < 16; ++i) {
                    std::uint32_t x = bx * 4 + i % 4, y = by * 4 + i / 4;
                    std::uint32_t c = (codes >> (2 * i)) & 3;
                    std::uint32_t a = transparent_black && c == 3 ? 0 : alpha[i];
                    if (x < width && y < height) out.pixels[static_cast<size_t>(y) * width + x] = (a << 24) | palette[c];
                }
            }
        return true;
    }
    if (!(pf_flags & 0x40) || (bits != 32 && bits != 24)) return detail = L"unsupported DDS pixel format", false;
    const std::uint32_t bpp = bits / 8;
    if (!r.has(static_cast<size_t>(width) * height * bpp)) return detail = L"truncated DDS pixels", false;
    out.pixels.assign(static_cast<size_t>(width) * height, 0);
    out.has_alpha = (pf_flags & 0x1) && amask;
    auto channel = [](std::uint32_t v, std::uint32_t mask) -> std::uint32_t {
        if (!mask) return 0;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        std::uint32_t max = mask >> shift;
        return ((v & mask) >> shift) * 255 / max;
    };
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        std::uint32_t v = bpp == 4 ? r.u32() : (r.u8() | (r.u8() << 8) | (r.u8() << 16));
        std::uint32_t a = out.has_alpha ? channel(v, amask) : 255;
        out.pixels[i] = (a << 24) | (channel(v, rmask) << 16) | (channel(v, gmask) << 8) | channel(v, bmask);
    }
    return true;
}

image resample_linear(const image& in, std::uint32_t width, std::uint32_t height) {
    image out;
    out.width = width;
    out.height = height;
    out.has_alpha = in.has_alpha;
    out.pixels.resize(static_cast<size_t>(width) * height);
    if (in.width == 0 || in.height == 0 || in.pixels.size() < static_cast<size_t>(in.width) * in.height) {
        // Nothing to sample: transparent black, rather than reading texels that are not there.
        out.has_alpha = true;
        return out;
    }
    for (std::uint32_t y = 0; y < height; ++y) {
        float fy = std::max(0.0f, (y + 0.5f) * in.height / height - 0.5f);
        std::uint32_t y0 = std::min<std::uint32_t>(static_cast<std::uint32_t>(fy), in.height - 1), y1 = std::min(y0 + 1, in.height - 1);
        float ty = fy - y0;
        for (std::uint32_t x = 0; x < width; ++x) {
            float fx = std::max(0.0f, (x + 0.5f) * in.width / width - 0.5f);
            std::uint32_t x0 = std::min<std::uint32_t>(static_cast<std::uint32_t>(fx), in.width - 1), x1 = std::min(x0 + 1, in.width - 1);
            float tx = fx - x0;
            const size_t row0 = static_cast<size_t>(y0) * in.width, row1 = static_cast<size_t>(y1) * in.width;
            std::uint32_t p00 = in.pixels[row0 + x0], p01 = in.pixels[row0 + x1];
            std::uint32_t p10 = in.pixels[row1 + x0], p11 = in.pixels[row1 + x1];
            std::uint32_t result = 0;
            for (int s = 0; s < 32; s += 8) {
                float top = ((p00 >> s) & 255) * (1 - tx) + ((p01 >> s) & 255) * tx;
                float bottom = ((p10 >> s) & 255) * (1 - tx) + ((p11 >> s) & 255) * tx;
                result |= static_cast<std::uint32_t>(top * (1 - ty) + bottom * ty + 0.5f) << s;
            }
            out.pixels[static_cast<size_t>(y) * width + x] = result;
        }
    }
    return out;
}

}  // namespace dx
