// The recording double of DirectInput: the DirectInput object and its devices log every
// call with its arguments; a keyboard device reads the log's keyboard script.
#include <algorithm>
#include <string>

#include "dx/recording_input.h"
#include "dx/recording_object.h"

namespace dx::recording {

keyboard_script& log::keyboard() {
    if (!keyboard_) keyboard_ = std::make_shared<keyboard_script>();
    return *keyboard_;
}

std::vector<key_record> records(std::initializer_list<std::pair<LONG, LONG>> code_and_data) {
    std::vector<key_record> out;
    LONG n = 0;
    for (auto [code, data] : code_and_data) {
        ++n;
        out.push_back({code, data, 1000 + n, n, 0});
    }
    return out;
}

namespace {

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
    return out;
}

class recording_directinputdevice8 final : public recorded<DirectInputDevice8> {
public:
    explicit recording_directinputdevice8(std::shared_ptr<log> into) : recorded(std::move(into), "DirectInputDevice8") {}

    HRESULT SetCommonDataFormat(LONG format) override { return enter("SetCommonDataFormat", std::to_string(format)); }
    HRESULT SetCooperativeLevel(HWND window, LONG flags) override {
        return enter("SetCooperativeLevel",
                     std::to_string(reinterpret_cast<LONG_PTR>(window)) + "," + std::to_string(flags));
    }
    HRESULT SetProperty(const wchar_t* name, const property_long& value) override {
        return enter("SetProperty", narrow(name) + "," + std::to_string(value.how) + "," +
                                        std::to_string(value.object) + "," + std::to_string(value.data));
    }
    HRESULT Acquire() override { return enter("Acquire"); }
    HRESULT GetDeviceStateKeyboard(keyboard_state& state) override {
        HRESULT hr = enter("GetDeviceStateKeyboard");
        if (SUCCEEDED(hr)) state = log_->keyboard().state;
        return hr;
    }
    // Like the platform's read, it writes only the slots it fills and leaves the rest as
    // they were; a failing read writes nothing and keeps its records queued.
    HRESULT GetDeviceData(key_record* records, LONG slots, LONG flags, LONG* count) override {
        *count = 0;
        HRESULT hr = enter("GetDeviceData", std::to_string(slots) + "," + std::to_string(flags));
        if (FAILED(hr)) return hr;
        auto& reads = log_->keyboard().reads;
        if (reads.empty()) return hr;
        auto& next = reads.front();
        size_t n = std::min(next.size(), static_cast<size_t>(slots));
        for (size_t i = 0; i < n; ++i) records[i] = next[i];
        next.erase(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(n));
        if (next.empty()) reads.pop_front();
        *count = static_cast<LONG>(n);
        return hr;
    }
    HRESULT Unacquire() override { return enter("Unacquire"); }
};

class recording_directinput8 final : public recorded<DirectInput8> {
public:
    explicit recording_directinput8(std::shared_ptr<log> into) : recorded(std::move(into), "DirectInput8") {}

    HRESULT CreateDevice(const wchar_t* name, DirectInputDevice8** out) override {
        *out = nullptr;
        HRESULT hr = enter("CreateDevice", narrow(name));
        if (FAILED(hr)) return hr;
        ComPtr<DirectInputDevice8> made;
        hr = make<recording_directinputdevice8>(made, log_);
        *out = made.Detach();
        return hr;
    }
};

}  // namespace

ComPtr<DirectInput8> make_directinput8(std::shared_ptr<log> into) {
    ComPtr<DirectInput8> made;
    make<recording_directinput8>(made, std::move(into));
    return made;
}

}  // namespace dx::recording
