// The four entry points of the DLL, exported by name. The process entry point has nothing
// of its own to do: the engine-wide state is tied to apartments, not to the loader.
#include <windows.h>

#include "com/module.h"
#include "com/registration.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return com::get_class_object(clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return com::can_unload_now(); }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return com::register_server(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return com::unregister_server(); }
