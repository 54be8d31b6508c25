#include "engine/declarations.h"

#include <objbase.h>

#include "com/errors.h"

namespace engine {
namespace {

LONG states = 0;

struct apartment_slot {
    declarations_state* state = nullptr;
    ULARGE_INTEGER spy_cookie{};
    bool spy_registered = false;
};

// A plain pointer per thread: thread-local destructors would run under the loader lock,
// where no COM object may be released.
thread_local apartment_slot current;

// Releases the state and stops watching the apartment, so that no object of this library
// stays registered with COM once the state is gone.
void discard(apartment_slot& slot) noexcept {
    declarations_state* state = slot.state;
    slot.state = nullptr;
    if (slot.spy_registered) {
        slot.spy_registered = false;
        CoRevokeInitializeSpy(slot.spy_cookie);
    }
    if (state) {
        delete state;
        InterlockedDecrement(&states);
    }
}

// Watches the thread's COM initialisation count and discards the state just before the
// apartment ends, while COM can still release the objects it holds.
class apartment_spy final : public IInitializeSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IInitializeSpy) return E_NOINTERFACE;
        *out = static_cast<IInitializeSpy*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hr, DWORD, DWORD) override { return hr; }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD apartment_refs) override {
        if (apartment_refs <= 1) discard(current);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }

private:
    LONG refs_ = 1;
};

void watch_apartment(apartment_slot& slot) {
    auto* spy = new (std::nothrow) apartment_spy();
    if (!spy) return;
    if (SUCCEEDED(CoRegisterInitializeSpy(spy, &slot.spy_cookie))) slot.spy_registered = true;
    spy->Release();
}

}  // namespace

declarations_state& declarations() {
    if (!current.state) {
        current.state = new declarations_state();
        InterlockedIncrement(&states);
        watch_apartment(current);
    }
    return *current.state;
}

void discard_current_state() noexcept { discard(current); }

long live_states() noexcept { return states; }

model_entry& model_at(SHORT index) {
    if (index < 0 || index >= model_slots) com::raise(com::error_subscript);
    return (*declarations().models)[index];
}

}  // namespace engine
