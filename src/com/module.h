// Module-wide plumbing: the counts that decide whether the DLL may unload, the class table
// behind DllGetClassObject, and the path of the module that carries the type library.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace com {

// Live objects of the library (class instances and their helper objects).
void object_created() noexcept;
void object_destroyed() noexcept;
long object_count() noexcept;
// Locks taken with IClassFactory::LockServer.
long lock_count() noexcept;

// The module (DLL, or test program) whose resources hold the type library.
HMODULE module_handle() noexcept;
std::wstring module_path();

// Loads the embedded type library and returns the description of a type in it.
HRESULT type_info_of(REFGUID guid, ITypeInfo** info) noexcept;

// What DllGetClassObject and DllCanUnloadNow answer.
HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) noexcept;
HRESULT can_unload_now() noexcept;

// The programmatic identifier of a class: the library name, a point and the class name.
std::wstring prog_id(const wchar_t* class_name);

}  // namespace com
