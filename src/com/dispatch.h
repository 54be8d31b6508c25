// Late binding over a generated member table: name look-up and an Invoke that normalises
// every argument itself (defaults of omitted arguments, dereferenced and converted
// variants, named arguments, write-back of by-reference variables) before calling the
// member through its vtable thunk.
#pragma once
#include <oaidl.h>

#include "com/member_table.h"

namespace com {

HRESULT ids_of_names(const interface_desc& desc, LPOLESTR* names, UINT count, DISPID* ids) noexcept;

HRESULT invoke(const interface_desc& desc, IDispatch* self, DISPID id, LCID lcid, WORD flags, DISPPARAMS* params,
               VARIANT* result, EXCEPINFO* excep, UINT* arg_err) noexcept;

// The member that a DISPID and invoke flags select, or nullptr.
const member_desc* find_member(const interface_desc& desc, DISPID id, WORD flags) noexcept;

}  // namespace com
