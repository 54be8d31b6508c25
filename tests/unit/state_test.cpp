// dxmain and the engine-wide state, against the recording double of the DirectX layer:
// what initialize and engine_unload call and hold, failures, and one state per apartment.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "com/errors.h"
#include "com/module.h"
#include "dx/recording.h"
#include "dx8engine_iface.h"
#include "engine/classes.h"
#include "engine/declarations.h"
#include "helpers.h"

namespace {

using calls = std::vector<std::string>;

class Dxmain : public testing::Test {
protected:
    void SetUp() override {
        engine::discard_current_state();
        dx::set_directx_factory(dx::recording::factory(log));
        ASSERT_EQ(S_OK, engine::create_dxmain(iface::IID_dxmain, reinterpret_cast<void**>(main.GetAddressOf())));
    }
    void TearDown() override {
        main.Reset();
        engine::discard_current_state();
        dx::set_directx_factory({});
    }

    std::shared_ptr<dx::recording::log> log = std::make_shared<dx::recording::log>();
    ComPtr<iface::_dxmain> main;
};

TEST_F(Dxmain, InitializeMakesTheRootThenDirect3DThenDirectInput) {
    ASSERT_EQ(S_OK, main->initialize());
    EXPECT_EQ((calls{"DirectX8.create", "DirectX8.Direct3DCreate", "DirectX8.DirectInputCreate"}), log->calls());
    auto& s = engine::declarations();
    EXPECT_NE(nullptr, s.dx8.Get());
    EXPECT_NE(nullptr, s.d3d8.Get());
    EXPECT_NE(nullptr, s.dinput8.Get());
    EXPECT_EQ(nullptr, s.d3dx8.Get());
    EXPECT_EQ(nullptr, s.d3ddevice.Get());
}

TEST_F(Dxmain, InitializeTwiceHoldsOnlyTheSecondPair) {
    ASSERT_EQ(S_OK, main->initialize());
    ASSERT_EQ(S_OK, main->initialize());
    EXPECT_EQ(2, log->made("Direct3D8"));
    EXPECT_EQ(1, log->live("Direct3D8"));
    EXPECT_EQ(1, log->live("DirectInput8"));
    EXPECT_EQ(1, log->live("DirectX8"));
}

TEST_F(Dxmain, UnloadReleasesDirect3DThenTheRootThenDirectInput) {
    ASSERT_EQ(S_OK, main->initialize());
    log->clear();
    ASSERT_EQ(S_OK, main->engine_unload());
    EXPECT_EQ((calls{"Direct3D8#1.Release", "DirectX8#1.Release", "DirectInput8#1.Release"}), log->calls());
    EXPECT_EQ(S_OK, main->engine_unload());
    EXPECT_EQ(3u, log->calls().size());
    // A later initialize restores a working state.
    ASSERT_EQ(S_OK, main->initialize());
    EXPECT_EQ(1, log->live("Direct3D8"));
}

TEST_F(Dxmain, UnloadBeforeAnyInitializeSucceedsAndChangesNothing) {
    EXPECT_EQ(S_OK, main->engine_unload());
    EXPECT_TRUE(log->calls().empty());
}

TEST_F(Dxmain, AFailingStepStopsInitializeAndKeepsWhatWasStored) {
    log->fail("DirectX8.Direct3DCreate", E_OUTOFMEMORY);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_OUTOFMEMORY, main->initialize());
    EXPECT_EQ((calls{"DirectX8.create", "DirectX8.Direct3DCreate"}), log->calls());
    auto& s = engine::declarations();
    EXPECT_NE(nullptr, s.dx8.Get());
    EXPECT_EQ(nullptr, s.d3d8.Get());
    EXPECT_EQ(nullptr, s.dinput8.Get());
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    bstr description, source;
    info->GetDescription(description.out());
    info->GetSource(source.out());
    EXPECT_EQ(0u, description.str().find(L"DirectX8.Direct3DCreate failed: "));
    EXPECT_EQ(L"Quellbrook_dx_8engine.dxmain", source.str());
}

TEST_F(Dxmain, ARootObjectThatCannotBeCreatedReplacesNothing) {
    ASSERT_EQ(S_OK, main->initialize());
    log->fail("DirectX8.create", REGDB_E_CLASSNOTREG);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, main->initialize());
    EXPECT_EQ(1, log->live("DirectX8"));
    EXPECT_EQ(1, log->live("Direct3D8"));
}

TEST(Errors, TheAutomationErrorsCarryTheirStandardDescriptions) {
    const std::pair<HRESULT, const wchar_t*> cases[] = {
        {static_cast<HRESULT>(0x800A0006), L"Overflow"},
        {static_cast<HRESULT>(0x800A0009), L"Subscript out of range"},
        {static_cast<HRESULT>(0x800A000D), L"Type mismatch"},
        {static_cast<HRESULT>(0x800A005B), L"Object variable or With block variable not set"}};
    for (auto [hr, text] : cases) {
        HRESULT got = com::guard(L"source", IID_NULL, [&] { com::raise(hr); });
        EXPECT_EQ(hr, got);
        ComPtr<IErrorInfo> info;
        ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
        bstr d;
        info->GetDescription(d.out());
        EXPECT_EQ(text, d.str());
    }
    // Direct3D's codes are named, since the system's message table does not know them.
    EXPECT_EQ(L"D3DERR_INVALIDCALL: the call is not valid in the device's present state, or an argument is wrong "
              L"(0x8876086C)",
              com::describe(D3DERR_INVALIDCALL));
    EXPECT_EQ(0u, com::describe(D3DERR_DEVICELOST).find(L"D3DERR_DEVICELOST: "));
    // So are D3DX's, and DirectInput's outside the system's range.
    EXPECT_EQ(0u, com::describe(static_cast<HRESULT>(0x88760B59)).find(L"D3DXERR_INVALIDDATA: "));
    EXPECT_EQ(0u, com::describe(REGDB_E_CLASSNOTREG).find(L"DIERR_DEVICENOTREG, REGDB_E_CLASSNOTREG: "));
    ComPtr<dx::Direct3D8> unset;
    EXPECT_EQ(com::error_object_not_set, com::guard(L"s", IID_NULL, [&] { com::need(unset); }));
    EXPECT_EQ(E_OUTOFMEMORY, com::guard(L"s", IID_NULL, [] { throw std::bad_alloc(); }));
    EXPECT_EQ(E_UNEXPECTED, com::guard(L"s", IID_NULL, [] { throw 1; }));
}

// Runs initialize on a thread of its own apartment and reports what its state held.
struct apartment_run {
    std::shared_ptr<dx::recording::log> log = std::make_shared<dx::recording::log>();
    void* d3d8 = nullptr;
    int live_after_uninitialize = -1;
};

TEST(Apartments, EachThreadHasItsOwnStateReleasedWhenItsApartmentEnds) {
    engine::discard_current_state();
    long before = engine::live_states();
    apartment_run runs[2];
    std::atomic<int> ready{0};
    auto body = [&](apartment_run& run) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        dx::ComPtr<dx::DirectX8> root;
        ASSERT_EQ(S_OK, dx::recording::factory(run.log)(root));
        engine::declarations().dx8 = root;
        dx::ComPtr<dx::Direct3D8> d3d;
        ASSERT_EQ(S_OK, root->Direct3DCreate(&d3d));
        engine::declarations().d3d8 = d3d;
        run.d3d8 = d3d.Get();
        d3d.Reset();
        root.Reset();
        // Both threads hold a state at the same time.
        ++ready;
        while (ready < 2) Sleep(1);
        CoUninitialize();
        run.live_after_uninitialize = run.log->live("Direct3D8") + run.log->live("DirectX8");
    };
    std::thread a(body, std::ref(runs[0])), b(body, std::ref(runs[1]));
    a.join();
    b.join();
    EXPECT_NE(runs[0].d3d8, runs[1].d3d8);
    EXPECT_EQ(1, runs[0].log->made("Direct3D8"));
    EXPECT_EQ(1, runs[1].log->made("Direct3D8"));
    EXPECT_EQ(0, runs[0].live_after_uninitialize);
    EXPECT_EQ(0, runs[1].live_after_uninitialize);
    EXPECT_EQ(before, engine::live_states());
    // The test thread's own state was never touched by the other two.
    EXPECT_EQ(nullptr, engine::declarations().d3d8.Get());
}

}  // namespace
