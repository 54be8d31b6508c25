// The DirectInput 8 side of the DirectX layer: the keyboard device and the operations the
// keyboard input of the engine uses, with the automation form's records.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <array>

namespace dx {

// The state of every key, indexed by DirectInput key code; 0x80 while the key is down.
using keyboard_state = std::array<BYTE, 256>;

// One buffered input record (the automation form's DIDEVICEOBJECTDATA: five 32-bit words).
struct key_record {
    LONG key_code;  // the key's DirectInput offset, 0 to 255
    LONG data;      // 0 when the record reports a release
    LONG time_stamp;
    LONG sequence;
    LONG user_data;
};

// The key code of a record that reports nothing: it names no key.
inline constexpr LONG no_key = -1;
inline constexpr key_record empty_record = {no_key, 0, 0, 0, 0};

// A property value for the whole device or one of its objects (the automation form's
// DIPROPLONG); how 0 and object 0 address the whole device.
struct property_long {
    LONG how;
    LONG object;
    LONG data;
};

inline constexpr LONG format_keyboard = 1;  // SetCommonDataFormat: 256-byte key states

struct DirectInputDevice8 : IUnknown {
    virtual HRESULT SetCommonDataFormat(LONG format) = 0;
    virtual HRESULT SetCooperativeLevel(HWND window, LONG flags) = 0;
    // Properties by name, as the automation form gives them ("diprop_buffersize").
    virtual HRESULT SetProperty(const wchar_t* name, const property_long& value) = 0;
    virtual HRESULT Acquire() = 0;
    virtual HRESULT GetDeviceStateKeyboard(keyboard_state& state) = 0;
    // Moves up to `slots` buffered records into records[0], records[1], ... and removes them
    // from the device's buffer; *count is how many were moved. Slots from *count on are not
    // written.
    virtual HRESULT GetDeviceData(key_record* records, LONG slots, LONG flags, LONG* count) = 0;
    virtual HRESULT Unacquire() = 0;
};

struct DirectInput8 : IUnknown {
    // Opens a device by name: "GUID_SysKeyboard", "GUID_SysMouse" (in any case) or a GUID
    // in braces. A name that is none of these fails with E_INVALIDARG.
    virtual HRESULT CreateDevice(const wchar_t* name, DirectInputDevice8** out) = 0;
};

}  // namespace dx
