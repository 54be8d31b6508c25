// Self-registration: the type library and, per class, its CLSID, in-process server and
// programmatic identifier. Machine-wide when the machine hive can be written, otherwise
// for the current user only.
#pragma once
#include <windows.h>

namespace com {

enum class hive { machine, user };

HRESULT register_server() noexcept;
HRESULT unregister_server() noexcept;

// Registers into, or removes from, one hive only.
HRESULT register_in(hive where) noexcept;
HRESULT unregister_from(hive where) noexcept;

}  // namespace com
