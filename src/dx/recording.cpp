#include "dx/recording.h"

#include "dx/ref_counted.h"

namespace dx::recording {

HRESULT log::enter(const std::string& operation, const std::string& arguments) {
    calls_.push_back(arguments.empty() ? operation : operation + "(" + arguments + ")");
    auto it = failures_.find(operation);
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

// The common part of every recording object: its log, kind and serial number.
template <class Interface>
class recorded : public ref_counted<Interface> {
public:
    recorded(std::shared_ptr<log> into, const char* kind)
        : log_(std::move(into)), kind_(kind), id_(log_->object_created(kind)) {}
    ~recorded() override { log_->object_destroyed(kind_, id_); }

protected:
    HRESULT enter(const char* method, const std::string& arguments = {}) {
        return log_->enter(kind_ + "." + method, arguments);
    }
    std::shared_ptr<log> log_;
    std::string kind_;
    int id_;
};

class recording_direct3d8 final : public recorded<Direct3D8> {
public:
    explicit recording_direct3d8(std::shared_ptr<log> into) : recorded(std::move(into), "Direct3D8") {}
};

class recording_directinput8 final : public recorded<DirectInput8> {
public:
    explicit recording_directinput8(std::shared_ptr<log> into) : recorded(std::move(into), "DirectInput8") {}
};

class recording_directx8 final : public recorded<DirectX8> {
public:
    explicit recording_directx8(std::shared_ptr<log> into) : recorded(std::move(into), "DirectX8") {}

    HRESULT Direct3DCreate(Direct3D8** out) override {
        *out = nullptr;
        HRESULT hr = enter("Direct3DCreate");
        if (FAILED(hr)) return hr;
        ComPtr<Direct3D8> made;
        hr = make<recording_direct3d8>(made, log_);
        *out = made.Detach();
        return hr;
    }
    HRESULT DirectInputCreate(DirectInput8** out) override {
        *out = nullptr;
        HRESULT hr = enter("DirectInputCreate");
        if (FAILED(hr)) return hr;
        ComPtr<DirectInput8> made;
        hr = make<recording_directinput8>(made, log_);
        *out = made.Detach();
        return hr;
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
