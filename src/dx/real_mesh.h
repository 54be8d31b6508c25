// Our D3DX mesh pieces over the platform device: model files read by the portable readers into
// managed vertex and index buffers grouped by attribute id, and the material buffer.
#pragma once
#include <string>
#include <vector>

#include "dx/graphics.h"

namespace dx {

// Reads a model file of any format the readers know; the adjacency buffer is made only when
// want_adjacency asks for it.
HRESULT load_real_mesh(const wchar_t* file, DWORD options, Direct3DDevice8* device, bool want_adjacency,
                       ComPtr<D3DXBuffer>& adjacency, ComPtr<D3DXBuffer>& materials, LONG& material_count,
                       ComPtr<D3DXMesh>& mesh, std::wstring* detail);
HRESULT real_material(D3DXBuffer* materials, LONG index, D3DMATERIAL8* out);
HRESULT real_texture_name(D3DXBuffer* materials, LONG index, std::wstring* out, texture_source* source);

// Makes the next mesh drawn on the device bind its buffers again: called by whatever else
// binds its own stream, indices or vertex format on the device.
void forget_mesh_binding(IDirect3DDevice8* device) noexcept;

// Reads a whole file; false with detail set when it cannot.
bool read_file(const wchar_t* file, std::vector<unsigned char>& out, std::wstring* detail);

}  // namespace dx
