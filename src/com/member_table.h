// Data that describes the public interface: what the type-library builder writes and what
// the dispatcher reads. The tables themselves are generated from interface/dx8engine.iface.
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace com {

// One parameter of a member. Method parameters are passed by reference; the value of a
// property let and the result of a property get are not listed here as by-reference.
struct param_desc {
    const wchar_t* name;  // nullptr for the unnamed value of a property let
    VARTYPE vt;           // VT_I4, VT_I2, VT_BOOL, VT_R4 or VT_BSTR
    bool by_ref;
    bool has_default;
    double number;        // the default of a numeric or Boolean parameter
    const wchar_t* text;  // the default of a String parameter
};

// Calls the member on an interface pointer with arguments already converted to the
// parameter types (args[i].vt == params[i].vt) and a result variant of the result type.
using member_thunk = HRESULT (*)(IDispatch* self, VARIANT* args, VARIANT* result);

struct member_desc {
    const wchar_t* name;
    DISPID dispid;
    INVOKEKIND kind;
    short slot;           // vtable slot of the interface method; -1 for events
    VARTYPE result;       // VT_EMPTY for a Sub, a property let and an event
    const param_desc* params;
    short param_count;
    member_thunk call;
};

struct interface_desc {
    const wchar_t* name;
    GUID iid;
    bool dual;            // false: a pure dispatch (event) interface
    const member_desc* members;
    short member_count;
};

struct coclass_desc {
    const wchar_t* name;
    GUID clsid;
    const interface_desc* default_interface;
    const interface_desc* source;  // the event interface, or nullptr
};

// One type description of the library, in library order: either an interface or a class.
struct type_entry {
    const interface_desc* iface;
    const coclass_desc* coclass;
};

struct library_desc {
    const wchar_t* name;
    GUID libid;
    WORD major, minor;
    const type_entry* types;
    short type_count;
    const coclass_desc* coclasses;
    short coclass_count;
};

}  // namespace com

namespace iface {
// The description of a generated C++ interface type.
template <class Interface>
const com::interface_desc& desc_of();
}  // namespace iface
