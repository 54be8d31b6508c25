// Class dxmodels: turns, scales and animates the models of the engine-wide model table that
// dxgraphics fills and draws. It holds no state of its own.
#include <cmath>
#include <numbers>

#include "com/object.h"
#include "dx/d3dx_math.h"
#include "engine/classes.h"
#include "engine/declarations.h"

namespace engine {
namespace {

// Fails with error 5, naming the argument, for a number that is not finite.
void need_finite(float value, const wchar_t* name) {
    if (std::isfinite(value)) return;
    throw com::error(com::error_invalid_argument,
                     std::wstring(L"Invalid procedure call or argument: ") + name + L" is not a finite number");
}

float radians(float degrees) { return static_cast<float>(degrees * (std::numbers::pi / 180.0)); }

LONG animation_count(const model_entry& slot) { return slot.mesh ? slot.mesh->AnimationCount() : 0; }

// The animation's index in the slot's model, error 9 outside 0 to count - 1.
LONG animation_at(const model_entry& slot, const LONG* animation) {
    if (*animation < 0 || *animation >= animation_count(slot)) com::raise(com::error_subscript);
    return *animation;
}

class dxmodels final : public com::automation_object<iface::_dxmodels> {
public:
    dxmodels() : automation_object(L"dxmodels") {}

    HRESULT STDMETHODCALLTYPE model_place(SHORT* index, float* x, float* y, float* z, float* pitch, float* yaw,
                                          float* roll, float* scale) override {
        return call([&] {
            com::need_arguments(index, x, y, z, pitch, yaw, roll, scale);
            model_entry& slot = model_at(*index);
            need_finite(*x, L"x"), need_finite(*y, L"y"), need_finite(*z, L"z");
            need_finite(*pitch, L"pitch"), need_finite(*yaw, L"yaw"), need_finite(*roll, L"roll");
            need_finite(*scale, L"scale");
            slot.world = dx::matrix_placement(*x, *y, *z, radians(*pitch), radians(*yaw), radians(*roll), *scale);
        });
    }

    HRESULT STDMETHODCALLTYPE model_animation_count(SHORT* index, LONG* result) override {
        return call([&] {
            com::need_arguments(index, result);
            *result = animation_count(model_at(*index));
        });
    }

    HRESULT STDMETHODCALLTYPE model_animation_name(SHORT* index, LONG* animation, BSTR* result) override {
        return call([&] {
            com::need_arguments(index, animation, result);
            model_entry& slot = model_at(*index);
            const LONG which = animation_at(slot, animation);  // before the mesh is touched: it may be none
            std::wstring name;
            com::check(slot.mesh->GetAnimation(which, &name, nullptr), L"D3DXMesh.GetAnimation");
            BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
            if (!text) throw std::bad_alloc();
            *result = text;
        });
    }

    HRESULT STDMETHODCALLTYPE model_animation_length(SHORT* index, LONG* animation, float* result) override {
        return call([&] {
            com::need_arguments(index, animation, result);
            model_entry& slot = model_at(*index);
            const LONG which = animation_at(slot, animation);
            float seconds = 0;
            com::check(slot.mesh->GetAnimation(which, nullptr, &seconds), L"D3DXMesh.GetAnimation");
            *result = seconds;
        });
    }

    HRESULT STDMETHODCALLTYPE model_animate(SHORT* index, LONG* animation, float* seconds, float* weight) override {
        return call([&] {
            com::need_arguments(index, animation, seconds, weight);
            model_entry& slot = model_at(*index);
            if (*animation != -1) animation_at(slot, animation);
            need_finite(*seconds, L"seconds");
            if (!(*weight >= 0 && *weight <= 1))
                throw com::error(com::error_invalid_argument,
                                 L"Invalid procedure call or argument: weight is not a number from 0 to 1");
            if (!slot.mesh) return;  // the rest pose of a slot that holds no model
            com::check(slot.mesh->Animate(*animation, *seconds, *weight), L"D3DXMesh.Animate");
        });
    }
};

}  // namespace

HRESULT create_dxmodels(REFIID iid, void** out) noexcept { return com::create_instance<dxmodels>(iid, out); }

}  // namespace engine
