// The Direct3D 8 and D3DX 8 side of the DirectX layer: the operations the graphics engine
// uses, with the platform's records (d3d8types.h) in their field order and widths.
#pragma once
#include <windows.h>
#include <d3d8.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dx {

using Microsoft::WRL::ComPtr;

struct Direct3DTexture8 : IUnknown {
    virtual IDirect3DBaseTexture8* native_texture() = 0;  // nullptr in the recording double
};

struct D3DXMesh : IUnknown {
    virtual HRESULT DrawSubset(DWORD attribute) = 0;

    // The animations its model file gave the mesh (none for a mesh with nothing to animate),
    // played on the processor as D3DX's animation controller and skin information would.
    virtual LONG AnimationCount() = 0;
    // The name (as the file spells it) and length in seconds of animation 0 <= index < count.
    virtual HRESULT GetAnimation(LONG index, std::wstring* name, float* seconds) = 0;
    // Poses the mesh at seconds into animation (-1: the rest pose), blended over its current
    // pose at weight (finite seconds, 0 <= weight <= 1), and writes the posed vertices for the
    // draws after it. A mesh never animated draws the vertices it was made with; one with nothing
    // to animate stays as it is.
    virtual HRESULT Animate(LONG animation, float seconds, float weight) = 0;
};

struct Direct3DDevice8 : IUnknown {
    virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Present(const RECT* source, const RECT* dest, HWND window, const RGNDATA* dirty) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX& matrix) = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT SetMaterial(const D3DMATERIAL8& material) = 0;
    virtual HRESULT SetTexture(DWORD stage, Direct3DTexture8* texture) = 0;
    virtual HRESULT SetLight(DWORD index, const D3DLIGHT8& light) = 0;
    virtual HRESULT LightEnable(DWORD index, BOOL enable) = 0;
    // The platform device under the wrapper, for our own D3DX pieces; nullptr in the double.
    virtual IDirect3DDevice8* native_device() = 0;
};

struct Direct3D8 : IUnknown {
    virtual HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) = 0;
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                                 D3DPRESENT_PARAMETERS* parameters, Direct3DDevice8** out) = 0;
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS8* caps) = 0;
    virtual HRESULT GetAdapterModeCount(UINT adapter, LONG* count) = 0;
    virtual HRESULT EnumAdapterModes(UINT adapter, UINT mode, D3DDISPLAYMODE* out) = 0;
    virtual HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE type, D3DFORMAT display, D3DFORMAT back_buffer,
                                    BOOL windowed) = 0;
};

// A block of bytes, as D3DX hands them out.
struct D3DXBuffer : IUnknown {};

// A font made from a GDI font for one device.
struct D3DXFont : IUnknown {};

// Where a material's texture image is, when the model file decides it: glTF and OBJ files name
// their images relative to themselves, and glTF files can hold them. A .x file leaves both
// empty: its names are relative to the folder the client gives.
struct texture_source {
    std::wstring file;                                        // the image file, as resolved
    std::shared_ptr<const std::vector<unsigned char>> image;  // the encoded image the model file holds
};

// The D3DX 8 utility object.
struct D3DX8 : IUnknown {
    virtual HRESULT CreateFont(Direct3DDevice8* device, HFONT font, D3DXFont** out) = 0;
    // Draws text inside rect with the DrawText format flags (DT_TOP, DT_VCENTER, DT_BOTTOM,
    // DT_LEFT, DT_CENTER, DT_RIGHT); lines end at "\n" or "\r\n".
    virtual HRESULT DrawText(D3DXFont* font, D3DCOLOR color, const wchar_t* text, UINT length, RECT* rect,
                             DWORD format) = 0;
    virtual HRESULT CreateBuffer(DWORD bytes, D3DXBuffer** out) = 0;
    virtual HRESULT BufferSetData(D3DXBuffer* buffer, LONG offset, LONG element_size, LONG count,
                                  const void* data) = 0;
    virtual HRESULT BufferGetData(D3DXBuffer* buffer, LONG offset, LONG element_size, LONG count, void* data) = 0;

    // Loads a model file (.x, glTF, GLB or OBJ, told apart by content) into a mesh whose subsets
    // are its material (attribute) ids, with a material buffer and, when adjacency is given, an
    // adjacency buffer. detail, when given, receives why a load failed.
    virtual HRESULT LoadMeshFromX(const wchar_t* file, DWORD options, Direct3DDevice8* device,
                                  D3DXBuffer** adjacency, D3DXBuffer** materials, LONG* material_count,
                                  D3DXMesh** mesh, std::wstring* detail) = 0;
    virtual HRESULT BufferGetMaterial(D3DXBuffer* materials, LONG index, D3DMATERIAL8* out) = 0;
    // The texture name of a material as its file gives it; source, when given, receives where
    // the image is when the model file decides that itself.
    virtual HRESULT BufferGetTextureName(D3DXBuffer* materials, LONG index, std::wstring* out,
                                         texture_source* source) = 0;
    // Reads an image file into a texture resampled to width x height with mip_levels levels
    // (D3DX_DEFAULT: a full chain); detail, when given, receives why a load failed.
    virtual HRESULT CreateTextureFromFileEx(Direct3DDevice8* device, const wchar_t* file, LONG width, LONG height,
                                            LONG mip_levels, LONG usage, D3DFORMAT format, D3DPOOL pool, LONG filter,
                                            LONG mip_filter, D3DCOLOR color_key, Direct3DTexture8** out,
                                            std::wstring* detail) = 0;
    // The same from an encoded image held in memory.
    virtual HRESULT CreateTextureFromFileInMemoryEx(Direct3DDevice8* device, const void* data, UINT size, LONG width,
                                                    LONG height, LONG mip_levels, LONG usage, D3DFORMAT format,
                                                    D3DPOOL pool, LONG filter, LONG mip_filter, D3DCOLOR color_key,
                                                    Direct3DTexture8** out, std::wstring* detail) = 0;
};

// Makes a new D3DX8 object; tests replace it with the recording double's.
using d3dx_factory = std::function<HRESULT(ComPtr<D3DX8>&)>;
HRESULT create_d3dx8(ComPtr<D3DX8>& out);
void set_d3dx_factory(d3dx_factory factory);  // an empty one restores the real implementation
HRESULT create_real_d3dx8(ComPtr<D3DX8>& out);

}  // namespace dx
