#include "dx/d3dx_math.h"

#include <cmath>

namespace dx {
namespace {

D3DVECTOR sub(const D3DVECTOR& a, const D3DVECTOR& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3DVECTOR cross(const D3DVECTOR& a, const D3DVECTOR& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
// Normalises v; a zero vector stays zero, as D3DX leaves it.
D3DVECTOR normalize(const D3DVECTOR& v) {
    float length = std::sqrt(dot(v, v));
    if (length == 0.0f) return {0.0f, 0.0f, 0.0f};
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

D3DMATRIX matrix_identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

D3DMATRIX matrix_translation(float x, float y, float z) {
    D3DMATRIX m = matrix_identity();
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

D3DMATRIX matrix_placement(float x, float y, float z, float pitch, float yaw, float roll, float scale) {
    const double sp = std::sin(pitch), cp = std::cos(pitch), sy = std::sin(yaw), cy = std::cos(yaw);
    const double sr = std::sin(roll), cr = std::cos(roll);
    const double rows[3][3] = {{sr * sp * sy + cr * cy, sr * cp, sr * sp * cy - cr * sy},
                               {cr * sp * sy - sr * cy, cr * cp, cr * sp * cy + sr * sy},
                               {cp * sy, -sp, cp * cy}};
    D3DMATRIX m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m.m[i][j] = static_cast<float>(rows[i][j] * scale);
    m._41 = x;
    m._42 = y;
    m._43 = z;
    m._44 = 1.0f;
    return m;
}

D3DMATRIX matrix_look_at_lh(const D3DVECTOR& eye, const D3DVECTOR& at, const D3DVECTOR& up) {
    D3DVECTOR z = normalize(sub(at, eye));
    D3DVECTOR x = normalize(cross(up, z));
    D3DVECTOR y = cross(z, x);
    D3DMATRIX m{};
    m._11 = x.x, m._12 = y.x, m._13 = z.x;
    m._21 = x.y, m._22 = y.y, m._23 = z.y;
    m._31 = x.z, m._32 = y.z, m._33 = z.z;
    m._41 = -dot(x, eye), m._42 = -dot(y, eye), m._43 = -dot(z, eye);
    m._44 = 1.0f;
    return m;
}

D3DMATRIX matrix_perspective_fov_lh(float fovy, float aspect, float zn, float zf) {
    D3DMATRIX m{};
    float y_scale = 1.0f / std::tan(fovy / 2.0f);
    m._11 = y_scale / aspect;
    m._22 = y_scale;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

}  // namespace dx
