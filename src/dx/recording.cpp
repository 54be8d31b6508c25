#include "dx/recording.h"

#include "dx/recording_object.h"

namespace dx::recording {

HRESULT log::enter(const std::string& operation, const std::string& arguments) {
    const std::string call = arguments.empty() ? operation : operation + "(" + arguments + ")";
    calls_.push_back(call);
    const int n = ++occurrences_[operation];
    if (n == one_shot_.n && operation == one_shot_.operation) {
        one_shot_given_ = true;
        return one_shot_.hr;
    }
    // A failure set for the exact call wins over one set for the operation.
    auto it = failures_.find(call);
    if (it == failures_.end()) it = failures_.find(operation);
    return it == failures_.end() ? S_OK : it->second;
}

int log::live(const std::string& kind) const {
    auto it = live_.find(kind);
    return it == live_.end() ? 0 : it->second;
}

int log::made(const std::string& kind) const {
    auto it = made_.find(kind);
    return it == made_.end() ? 0 : it->second;
}

int log::object_created(const std::string& kind) {
    ++live_[kind];
    return ++made_[kind];
}

void log::object_destroyed(const std::string& kind, int id) {
    --live_[kind];
    calls_.push_back(kind + "#" + std::to_string(id) + ".Release");
}

namespace {

class recording_directx8 final : public recorded<DirectX8> {
public:
    explicit recording_directx8(std::shared_ptr<log> into) : recorded(std::move(into), "DirectX8") {}

    HRESULT Direct3DCreate(Direct3D8** out) override {
        *out = nullptr;
        HRESULT hr = enter("Direct3DCreate");
        if (FAILED(hr)) return hr;
        *out = make_direct3d8(log_).Detach();
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT DirectInputCreate(DirectInput8** out) override {
        *out = nullptr;
        HRESULT hr = enter("DirectInputCreate");
        if (FAILED(hr)) return hr;
        *out = make_directinput8(log_).Detach();
        return *out ? S_OK : E_OUTOFMEMORY;
    }
};

}  // namespace

directx_factory factory(std::shared_ptr<log> into) {
    return [into](ComPtr<DirectX8>& out) -> HRESULT {
        HRESULT hr = into->enter("DirectX8.create");
        if (FAILED(hr)) return hr;
        return make<recording_directx8>(out, into);
    };
}

}  // namespace dx::recording
