// dxinput against the recording double of DirectInput: what engine_initialize,
// engine_Terminate and capturekey call, in which order and with which arguments; the events
// a scripted keyboard raises, the by-reference keycode, failing reads, and the sinks.
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "com/errors.h"
#include "dx/recording_input.h"
#include "dx8engine_iface.h"
#include "engine/classes.h"
#include "engine/declarations.h"
#include "engine/pause.h"
#include "helpers.h"

namespace {

using calls = std::vector<std::string>;
using dx::recording::records;

constexpr LONG window = 0x1234;
constexpr BYTE down = 0x80;
const std::string device = "DirectInputDevice8.";
const std::string read_state = device + "GetDeviceStateKeyboard";
const std::string read_records = device + "GetDeviceData(11,0)";

// An event sink that logs each event as "name.keydown(code)" and then runs its handler,
// which may change the by-reference keycode.
class sink final : public IDispatch {
public:
    sink(std::shared_ptr<dx::recording::log> into, std::string name) : log_(std::move(into)), name_(std::move(name)) {}

    std::function<void(DISPID, LONG&)> handler;
    HRESULT result = S_OK;
    std::string bad;  // what was wrong with an event's arguments, if anything

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != iface::DIID_dxinput_events) return E_NOINTERFACE;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (flags != DISPATCH_METHOD || !params || params->cArgs != 1 || params->cNamedArgs != 0 ||
            params->rgvarg[0].vt != (VT_I4 | VT_BYREF) || !params->rgvarg[0].plVal) {
            bad = "unexpected arguments";
            return DISP_E_BADPARAMCOUNT;
        }
        LONG& code = *params->rgvarg[0].plVal;
        const char* event = id == 1 ? "keyup" : id == 2 ? "keydown" : "unknown";
        log_->enter((name_.empty() ? "" : name_ + ".") + event, std::to_string(code));
        if (handler) handler(id, code);
        return result;
    }
    ULONG refs() const { return refs_; }

private:
    ULONG refs_ = 0;
    std::shared_ptr<dx::recording::log> log_;
    std::string name_;
};

class Dxinput : public testing::Test {
protected:
    void SetUp() override {
        engine::discard_current_state();
        dx::set_directx_factory(dx::recording::factory(log));
        engine::set_pause([log = log](DWORD ms) { log->enter("Sleep", std::to_string(ms)); });
        ASSERT_EQ(S_OK, engine::create_dxmain(iface::IID_dxmain, reinterpret_cast<void**>(main.GetAddressOf())));
        ASSERT_EQ(S_OK, engine::create_dxinput(iface::IID_dxinput, reinterpret_cast<void**>(input.GetAddressOf())));
        ASSERT_EQ(S_OK, main->initialize());
        log->clear();
    }
    void TearDown() override {
        for (auto& [point, cookie] : connections) point->Unadvise(cookie);
        connections.clear();
        input.Reset();
        main.Reset();
        engine::discard_current_state();
        engine::set_pause({});
        dx::set_directx_factory({});
    }

    HRESULT open(LONG frame = window, const wchar_t* name = L"GUID_SysKeyboard") {
        bstr device_name(name);
        BSTR b = device_name.get();
        return input->engine_initialize(&frame, &b);
    }
    void connect(sink& s, ComPtr<iface::_dxinput> to = nullptr) {
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, (to ? to : input).As(&container));
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(S_OK, container->FindConnectionPoint(iface::DIID_dxinput_events, &point));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, point->Advise(&s, &cookie));
        connections.push_back({point, cookie});
    }
    // Opens the keyboard with one sink connected and forgets the set-up calls.
    void open_with_sink() {
        connect(events);
        ASSERT_EQ(S_OK, open());
        log->clear();
    }
    // One capturekey with the given keys down and buffered records; returns what it logged
    // apart from the two reads, which every call makes.
    calls capture(std::vector<LONG> keys_down, std::vector<dx::key_record> read = {}, HRESULT expect = S_OK) {
        auto& k = log->keyboard();
        k.state.fill(0);
        for (LONG key : keys_down) k.state[static_cast<size_t>(key)] = down;
        k.reads.clear();
        k.reads.push_back(std::move(read));
        log->clear();
        EXPECT_EQ(expect, input->capturekey());
        calls out;
        for (auto& c : log->calls())
            if (c != read_state && c != read_records) out.push_back(c);
        return out;
    }

    std::shared_ptr<dx::recording::log> log = std::make_shared<dx::recording::log>();
    ComPtr<iface::_dxmain> main;
    ComPtr<iface::_dxinput> input;
    sink events{log, ""}, first{log, "a"}, second{log, "b"};  // outlive every connection
    std::vector<std::pair<ComPtr<IConnectionPoint>, DWORD>> connections;
};

TEST_F(Dxinput, EngineInitializeMakesDirectInputAndOpensTheKeyboardInOrder) {
    ASSERT_EQ(S_OK, open());
    EXPECT_EQ((calls{"DirectX8.DirectInputCreate", "DirectInput8#1.Release", "DirectInput8.CreateDevice(GUID_SysKeyboard)",
                     device + "SetCommonDataFormat(1)", device + "SetCooperativeLevel(4660,10)",
                     device + "SetProperty(diprop_buffersize,0,0,10)", device + "Acquire"}),
              log->calls());
    EXPECT_EQ(1, log->live("DirectInput8"));
    EXPECT_NE(nullptr, engine::declarations().dinput8.Get());

    // Opened again: a fresh DirectInput object and device; the earlier device goes without
    // Unacquire. The device name is passed on unchanged, and a window handle given as a
    // negative Long stays the same handle.
    log->clear();
    ASSERT_EQ(S_OK, open(-2, L"guid_SYSkeyboard"));
    EXPECT_EQ((calls{"DirectX8.DirectInputCreate", "DirectInput8#2.Release", "DirectInput8.CreateDevice(guid_SYSkeyboard)",
                     "DirectInputDevice8#1.Release", device + "SetCommonDataFormat(1)",
                     device + "SetCooperativeLevel(-2,10)", device + "SetProperty(diprop_buffersize,0,0,10)",
                     device + "Acquire"}),
              log->calls());
    EXPECT_EQ(1, log->live("DirectInputDevice8"));
}

TEST_F(Dxinput, EngineInitializeWithoutTheDeviceArgumentOpensTheSystemKeyboard) {
    ComPtr<IDispatch> late;
    ASSERT_EQ(S_OK, input.As(&late));
    LPOLESTR name = const_cast<LPOLESTR>(L"engine_initialize");
    DISPID id = 0;
    ASSERT_EQ(S_OK, late->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    variant frame;
    frame.vt = VT_I4;
    frame.lVal = window;
    DISPPARAMS params{&frame, nullptr, 1, 0};
    ASSERT_EQ(S_OK, late->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ("DirectInput8.CreateDevice(GUID_SysKeyboard)", log->calls().at(2));
}

TEST_F(Dxinput, EngineTerminateUnacquiresThenReleasesTheDeviceThenDirectInput) {
    ASSERT_EQ(S_OK, open());
    log->clear();
    ASSERT_EQ(S_OK, input->engine_Terminate());
    EXPECT_EQ((calls{device + "Unacquire", "DirectInputDevice8#1.Release", "DirectInput8#2.Release"}), log->calls());
    EXPECT_EQ(nullptr, engine::declarations().dinput8.Get());
    // engine_unload then finds DirectInput already gone; a later engine_initialize makes one.
    log->clear();
    ASSERT_EQ(S_OK, main->engine_unload());
    EXPECT_EQ((calls{"Direct3D8#1.Release", "DirectX8#1.Release"}), log->calls());
    ASSERT_EQ(S_OK, main->initialize());
    ASSERT_EQ(S_OK, open());
    EXPECT_EQ(1, log->live("DirectInputDevice8"));
}

TEST_F(Dxinput, AFailingStepEndsTheCallAndKeepsWhatTheStepsBeforeItDid) {
    // A failed CreateDevice: DirectInput is already replaced, no device is held.
    log->fail("DirectInput8.CreateDevice", E_INVALIDARG);
    EXPECT_EQ(E_INVALIDARG, open(window, L"GUID_Joystick"));
    EXPECT_EQ(0u, error_description().find(L"DirectInput8.CreateDevice(\"GUID_Joystick\") failed: "));
    EXPECT_EQ(2, log->made("DirectInput8"));
    EXPECT_EQ(1, log->live("DirectInput8"));
    EXPECT_EQ(0, log->made("DirectInputDevice8"));
    log->succeed("DirectInput8.CreateDevice");

    // A failed SetCooperativeLevel: the device is held, nothing after the failing step ran.
    log->fail("DirectInputDevice8.SetCooperativeLevel", E_HANDLE);
    log->clear();
    EXPECT_EQ(E_HANDLE, open());
    EXPECT_EQ(device + "SetCooperativeLevel(4660,10)", log->calls().back());
    EXPECT_EQ(1, log->live("DirectInputDevice8"));
    log->succeed("DirectInputDevice8.SetCooperativeLevel");

    // A failed Unacquire: the device and DirectInput stay held and the keyboard still reads.
    ASSERT_EQ(S_OK, open());
    log->fail("DirectInputDevice8.Unacquire", E_FAIL);
    EXPECT_EQ(E_FAIL, input->engine_Terminate());
    EXPECT_EQ(1, log->live("DirectInputDevice8"));
    EXPECT_NE(nullptr, engine::declarations().dinput8.Get());
    EXPECT_EQ(S_OK, input->capturekey());
}

TEST_F(Dxinput, CallsThatNeedAnObjectNotSetFailWithError91AtThatStep) {
    // capturekey and engine_Terminate on an object never opened.
    EXPECT_EQ(com::error_object_not_set, input->capturekey());
    EXPECT_EQ(L"Object variable or With block variable not set", error_description());
    EXPECT_EQ(com::error_object_not_set, input->engine_Terminate());
    EXPECT_TRUE(log->calls().empty());

    // ... and after engine_Terminate closed it.
    ASSERT_EQ(S_OK, open());
    ASSERT_EQ(S_OK, input->engine_Terminate());
    log->clear();
    EXPECT_EQ(com::error_object_not_set, input->capturekey());
    EXPECT_EQ(com::error_object_not_set, input->engine_Terminate());
    EXPECT_TRUE(log->calls().empty());

    // engine_initialize without the root object: nothing is made.
    ASSERT_EQ(S_OK, main->engine_unload());
    log->clear();
    EXPECT_EQ(com::error_object_not_set, open());
    EXPECT_TRUE(log->calls().empty());

    // engine_initialize after engine_Terminate of another object, which left DirectInput
    // unset, makes a fresh one: each object needs only the root object.
    ASSERT_EQ(S_OK, main->initialize());
    ComPtr<iface::_dxinput> other;
    ASSERT_EQ(S_OK, engine::create_dxinput(iface::IID_dxinput, reinterpret_cast<void**>(other.GetAddressOf())));
    LONG frame = window;
    bstr name(L"GUID_SysKeyboard");
    BSTR b = name.get();
    ASSERT_EQ(S_OK, other->engine_initialize(&frame, &b));
    ASSERT_EQ(S_OK, other->engine_Terminate());
    EXPECT_EQ(S_OK, open());
}

TEST_F(Dxinput, CapturekeyReadsTheStateThenTheRecordsThenPauses) {
    open_with_sink();
    log->keyboard().state[30] = down;
    ASSERT_EQ(S_OK, input->capturekey());
    EXPECT_EQ((calls{read_state, read_records, "keydown(30)", "Sleep(50)"}), log->calls());
}

TEST_F(Dxinput, AHeldKeyRaisesKeydownAtEveryCallAndOneKeyupAfterItsRelease) {
    open_with_sink();
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}, records({{30, 0x80}})));
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}));
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}));
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{30, 0}})));
    // The flag is clear now: a second release record raises nothing.
    EXPECT_EQ((calls{"Sleep(50)"}), capture({}, records({{30, 0}})));
}

TEST_F(Dxinput, AKeyPressedAndReleasedBetweenCallsWithoutAnEarlierKeydownRaisesNothing) {
    open_with_sink();
    EXPECT_EQ((calls{"Sleep(50)"}), capture({}, records({{30, 0x80}, {30, 0}})));
}

TEST_F(Dxinput, KeydownsComeInAscendingKeyCodeBeforeTheKeyupsInSlotOrder) {
    open_with_sink();
    capture({16, 17, 18});
    EXPECT_EQ((calls{"keydown(30)", "keydown(44)", "keyup(18)", "keyup(16)", "Sleep(50)"}),
              capture({44, 30}, records({{18, 0}, {44, 0x80}, {16, 0}, {30, 0x80}})));
}

TEST_F(Dxinput, AllElevenSlotsOfARecordReadAreReported) {
    open_with_sink();
    std::vector<LONG> keys;
    for (LONG k = 2; k <= 12; ++k) keys.push_back(k);
    capture(keys);
    std::vector<dx::key_record> releases;
    calls expected;
    for (LONG k = 12; k >= 2; --k) {
        releases.push_back(records({{k, 0}})[0]);
        expected.push_back("keyup(" + std::to_string(k) + ")");
    }
    expected.push_back("Sleep(50)");
    EXPECT_EQ(expected, capture({}, releases));
}

TEST_F(Dxinput, AReleaseRecordIsNeverReportedFromAnEarlierRead) {
    open_with_sink();
    capture({30});
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{31, 0x80}, {30, 0}})));
    // Pressed again: the slot that held the release record is not filled by this read.
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}));
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}, records({{31, 0}})));
    // A failing read leaves no earlier record behind either.
    log->fail("DirectInputDevice8.GetDeviceData", E_FAIL);
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}, records({{30, 0}})));
    log->succeed("DirectInputDevice8.GetDeviceData");
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{30, 0}})));
}

TEST_F(Dxinput, AKeydownHandlerThatAssignsKeycodeMovesThePass) {
    open_with_sink();
    // 30 becomes 40: flag 40 is set, 30 is not, and the pass goes on at 41, past 35.
    events.handler = [](DISPID, LONG& code) {
        if (code == 30) code = 40;
    };
    EXPECT_EQ((calls{"keydown(30)", "keydown(44)", "Sleep(50)"}), capture({30, 35, 44}));
    events.handler = nullptr;
    EXPECT_EQ((calls{"keyup(40)", "keyup(44)", "Sleep(50)"}), capture({}, records({{30, 0}, {40, 0}, {44, 0}})));

    // 255 ends the pass after that event, with flag 255 set.
    events.handler = [](DISPID, LONG& code) { code = 255; };
    EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30, 44}));
    events.handler = nullptr;
    EXPECT_EQ((calls{"keyup(255)", "Sleep(50)"}), capture({}, records({{30, 0}, {44, 0}, {255, 0}})));

    // Outside 0 to 255 no flag is set and the pass ends; the keyup pass and the pause follow.
    capture({20});
    for (LONG outside : {-1, -2147483647 - 1, 256, 2147483647}) {
        events.handler = [outside](DISPID id, LONG& code) {
            if (id == 2) code = outside;
        };
        EXPECT_EQ((calls{"keydown(30)", "keyup(20)", "Sleep(50)"}), capture({30, 44}, records({{20, 0}})));
        events.handler = nullptr;
        EXPECT_EQ((calls{"Sleep(50)"}), capture({}, records({{30, 0}})));
        capture({20});
    }
}

TEST_F(Dxinput, AKeyupHandlerThatAssignsKeycodeClearsTheFlagItNames) {
    open_with_sink();
    capture({30, 31});
    events.handler = [](DISPID, LONG& code) { code = 31; };
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{30, 0}})));
    events.handler = nullptr;
    // 30 is still flagged, 31 no longer.
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{31, 0}, {30, 0}})));
    // A handler that writes a value outside 0 to 255 leaves every flag as it was.
    capture({30});
    events.handler = [](DISPID, LONG& code) { code = -7; };
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{30, 0}})));
    events.handler = nullptr;
    EXPECT_EQ((calls{"keyup(30)", "Sleep(50)"}), capture({}, records({{30, 0}})));
}

TEST_F(Dxinput, TheQuietReadFailureReturnsAtOnceWithoutEventsOrPause) {
    open_with_sink();
    capture({16});
    log->fail("DirectInputDevice8.GetDeviceData", static_cast<HRESULT>(0x80040260));
    auto& k = log->keyboard();
    k.state.fill(0);
    k.state[30] = down;
    k.reads = {records({{16, 0}})};
    log->clear();
    EXPECT_EQ(S_OK, input->capturekey());
    EXPECT_EQ((calls{read_state, read_records}), log->calls());
}

TEST_F(Dxinput, AnyOtherReadFailureStillRunsBothPassesAndPauses) {
    open_with_sink();
    capture({16});
    for (HRESULT hr : {E_FAIL, static_cast<HRESULT>(0x8007001E), static_cast<HRESULT>(0x80040261)}) {
        log->fail("DirectInputDevice8.GetDeviceData", hr);
        EXPECT_EQ((calls{"keydown(30)", "Sleep(50)"}), capture({30}, records({{16, 0}})));
    }
    log->succeed("DirectInputDevice8.GetDeviceData");
    // The flag of 16 was never cleared by a record of a failed read.
    EXPECT_EQ((calls{"keyup(16)", "Sleep(50)"}), capture({}, records({{16, 0}})));
}

TEST_F(Dxinput, AFailingStateReadIsTheCallsErrorAndRaisesNothing) {
    open_with_sink();
    log->fail("DirectInputDevice8.GetDeviceStateKeyboard", static_cast<HRESULT>(0x8007001E));
    log->keyboard().state[30] = down;
    EXPECT_EQ(static_cast<HRESULT>(0x8007001E), input->capturekey());
    EXPECT_EQ(0u, error_description().find(L"DirectInputDevice8.GetDeviceStateKeyboard failed: "));
    EXPECT_EQ((calls{read_state}), log->calls());
}

TEST_F(Dxinput, EveryConnectedSinkGetsEachEventAndOneSinkCannotSpoilIt) {
    connect(first);
    connect(second);
    ASSERT_EQ(S_OK, open());
    // Both sinks see the engine's own variable: what the first writes, the second reads.
    first.handler = [](DISPID, LONG& code) { code += 1; };
    first.result = DISP_E_EXCEPTION;
    EXPECT_EQ((calls{"a.keydown(30)", "b.keydown(31)", "Sleep(50)"}), capture({30}));
    EXPECT_EQ("", first.bad + second.bad);

    // A sink that leaves during an event: the other sink still gets this one and the next.
    first.handler = [&](DISPID, LONG&) {
        auto [point, cookie] = connections.front();
        point->Unadvise(cookie);
    };
    first.result = S_OK;
    EXPECT_EQ((calls{"a.keydown(40)", "b.keydown(40)", "b.keydown(41)", "Sleep(50)"}), capture({40, 41}));
    connections.erase(connections.begin());
    EXPECT_EQ(0u, first.refs());
}

TEST_F(Dxinput, AHandlerThatClosesTheObjectLetsTheCallFinish) {
    open_with_sink();
    events.handler = [&](DISPID, LONG&) { input->engine_Terminate(); };
    EXPECT_EQ((calls{"keydown(30)", device + "Unacquire", "DirectInputDevice8#1.Release", "DirectInput8#2.Release",
                     "keydown(31)", "Sleep(50)"}),
              capture({30, 31}));
    EXPECT_EQ(com::error_object_not_set, input->capturekey());
}

TEST_F(Dxinput, EachObjectHasItsOwnDeviceAndFlags) {
    ComPtr<iface::_dxinput> other;
    ASSERT_EQ(S_OK, engine::create_dxinput(iface::IID_dxinput, reinterpret_cast<void**>(other.GetAddressOf())));
    connect(second, other);
    open_with_sink();
    LONG frame = window;
    bstr name(L"GUID_SysKeyboard");
    BSTR b = name.get();
    ASSERT_EQ(S_OK, other->engine_initialize(&frame, &b));
    capture({30});
    log->keyboard().reads = {records({{30, 0}}), records({{30, 0}})};
    log->keyboard().state.fill(0);
    log->clear();
    ASSERT_EQ(S_OK, other->capturekey());
    ASSERT_EQ(S_OK, input->capturekey());
    // Only the object that raised keydown(30) reports its release.
    EXPECT_EQ((calls{read_state, read_records, "Sleep(50)", read_state, read_records, "keyup(30)", "Sleep(50)"}),
              log->calls());
    // Closing one leaves the other's device open.
    ASSERT_EQ(S_OK, other->engine_Terminate());
    EXPECT_EQ(S_OK, input->capturekey());
}

}  // namespace

namespace {

// The real layer over the platform's dinput8.dll: device names, and a read that fills only
// the slots it delivers.
TEST(RealDirectInput, OpensTheKeyboardByNameAndReadsIt) {
    dx::ComPtr<dx::DirectX8> root;
    ASSERT_EQ(S_OK, dx::create_real_directx8(root));
    dx::ComPtr<dx::DirectInput8> input;
    ASSERT_EQ(S_OK, root->DirectInputCreate(&input));
    for (const wchar_t* name : {L"GUID_SysKeyboard", L"guid_syskeyboard", L"{6F1D2B61-D5A0-11CF-BFC7-444553540000}"}) {
        dx::ComPtr<dx::DirectInputDevice8> device;
        EXPECT_EQ(S_OK, input->CreateDevice(name, &device)) << name;
    }
    for (const wchar_t* name : {L"GUID_Keyboard", L"", L"{6F1D2B61-D5A0-11CF-BFC7-444553540000}x", L"6F1D2B61"}) {
        dx::ComPtr<dx::DirectInputDevice8> device;
        EXPECT_EQ(E_INVALIDARG, input->CreateDevice(name, &device)) << name;
        EXPECT_EQ(nullptr, device.Get());
    }

    dx::ComPtr<dx::DirectInputDevice8> keyboard;
    ASSERT_EQ(S_OK, input->CreateDevice(L"GUID_SysKeyboard", &keyboard));
    EXPECT_EQ(E_INVALIDARG, keyboard->SetCommonDataFormat(2));
    ASSERT_EQ(S_OK, keyboard->SetCommonDataFormat(dx::format_keyboard));
    HWND window = CreateWindowExW(0, L"STATIC", L"keyboard test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    ASSERT_EQ(S_OK, keyboard->SetCooperativeLevel(window, 10));
    EXPECT_EQ(E_INVALIDARG, keyboard->SetProperty(L"diprop_range", {0, 0, 10}));
    ASSERT_EQ(S_OK, keyboard->SetProperty(L"DIPROP_BUFFERSIZE", {0, 0, 10}));
    ASSERT_EQ(S_OK, keyboard->Acquire());
    dx::keyboard_state state;
    state.fill(0x55);
    ASSERT_EQ(S_OK, keyboard->GetDeviceStateKeyboard(state));
    EXPECT_EQ(0, state[30]);  // no key is down
    dx::key_record slots[11];
    for (auto& s : slots) s = {7, 7, 7, 7, 7};
    LONG count = -1;
    ASSERT_TRUE(SUCCEEDED(keyboard->GetDeviceData(slots, 11, 0, &count)));
    EXPECT_EQ(0, count);
    EXPECT_EQ(7, slots[0].key_code);
    EXPECT_EQ(S_OK, keyboard->Unacquire());
    keyboard.Reset();
    input.Reset();
    root.Reset();
    DestroyWindow(window);
}

}  // namespace
