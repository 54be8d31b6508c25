#include "dx/image.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>

using Microsoft::WRL::ComPtr;

namespace dx {
namespace {

bool decode_wic(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    ComPtr<IWICStream> stream;
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    ComPtr<IWICBitmapDecoder> decoder;
    if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    ComPtr<IWICBitmapFrameDecode> frame;
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    WICPixelFormatGUID format{};
    if (SUCCEEDED(hr)) hr = frame->GetPixelFormat(&format);
    ComPtr<IWICFormatConverter> converter;
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom);
    UINT w = 0, h = 0;
    if (SUCCEEDED(hr)) hr = converter->GetSize(&w, &h);
    if (SUCCEEDED(hr) && (w == 0 || h == 0 || w > max_image_side || h > max_image_side)) hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        out.width = w;
        out.height = h;
        out.pixels.assign(static_cast<size_t>(w) * h, 0);
        hr = converter->CopyPixels(nullptr, w * 4, w * h * 4, reinterpret_cast<BYTE*>(out.pixels.data()));
    }
    if (FAILED(hr)) return detail = L"not an image this engine reads", false;
    // Only formats that carry alpha keep it.
    out.has_alpha = format == GUID_WICPixelFormat32bppBGRA || format == GUID_WICPixelFormat32bppRGBA ||
                    format == GUID_WICPixelFormat64bppRGBA || format == GUID_WICPixelFormat8bppIndexed;
    if (out.has_alpha) {
        out.has_alpha = std::any_of(out.pixels.begin(), out.pixels.end(), [](std::uint32_t p) { return (p >> 24) != 255; });
    }
    return true;
}

bool ends_with(const std::vector<unsigned char>& b, const char* magic, size_t n) {
    return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

}  // namespace

bool decode_image(const std::vector<unsigned char>& bytes, image& out, std::wstring& detail) {
    if (ends_with(bytes, "DDS ", 4)) return decode_dds(bytes, out, detail);
    static const char* const wic_magic[] = {"BM", "\x89PNG", "\xFF\xD8", "GIF8"};
    for (const char* m : wic_magic)
        if (ends_with(bytes, m, std::strlen(m))) return decode_wic(bytes, out, detail);
    // TGA has no magic number: its header is checked field by field.
    return decode_tga(bytes, out, detail);
}

}  // namespace dx
