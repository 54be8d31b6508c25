// The D3DX matrix functions the engine uses, with the platform's conventions: row vectors
// (v' = v * M), left-handed view and projection.
#pragma once
#include <windows.h>
#include <d3d8types.h>

namespace dx {

D3DMATRIX matrix_identity();
D3DMATRIX matrix_translation(float x, float y, float z);
// scale x rotation x translation, the rotation in radians as D3DXMatrixRotationYawPitchRoll
// turns: roll about z, then pitch about x, then yaw about y.
D3DMATRIX matrix_placement(float x, float y, float z, float pitch, float yaw, float roll, float scale);
// A view from eye towards at; a zero-length direction or up vector leaves zero axes.
D3DMATRIX matrix_look_at_lh(const D3DVECTOR& eye, const D3DVECTOR& at, const D3DVECTOR& up);
D3DMATRIX matrix_perspective_fov_lh(float fovy, float aspect, float zn, float zf);

}  // namespace dx
