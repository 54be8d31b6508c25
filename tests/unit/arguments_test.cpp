// Arguments as only a C++ client calling through the vtable can pass them: null pointers where
// a value was expected, and null BSTRs (a script's empty string). Every member of the
// classes, from the generated member tables, is called with them on an open device: none may
// crash, a missing argument fails with E_POINTER and a description, and a null string is an
// empty one.
#include <gtest/gtest.h>

#include <vector>

#include "dx8engine_iface.h"
#include "graphics_fixture.h"

namespace {

class Arguments : public Graphics {
protected:
    void SetUp() override {
        Graphics::SetUp();
        ASSERT_EQ(S_OK, engine::create_dxinput(iface::IID_dxinput, reinterpret_cast<void**>(input.GetAddressOf())));
        ASSERT_EQ(S_OK, engine::create_dxmodels(iface::IID_dxmodels, reinterpret_cast<void**>(models.GetAddressOf())));
        open_device();
    }
    void TearDown() override {
        input.Reset();
        models.Reset();
        Graphics::TearDown();
    }

    IDispatch* object_of(const com::coclass_desc& c) {
        if (c.default_interface->iid == iface::IID_dxmain) return main.Get();
        if (c.default_interface->iid == iface::IID_dxgraphics) return g.Get();
        if (c.default_interface->iid == iface::IID_dxmodels) return models.Get();
        return input.Get();
    }

    // Calls each member that takes a pointer through its vtable slot, with every pointer given
    // by `pointer_for` for its type, and hands the HRESULT to `check`.
    template <class PointerFor, class Check>
    void call_each(PointerFor pointer_for, Check check) {
        for (short k = 0; k < iface::library.coclass_count; ++k) {
            const auto& cls = iface::library.coclasses[k];
            const auto& table = *cls.default_interface;
            for (short i = 0; i < table.member_count; ++i) {
                const auto& m = table.members[i];
                if (m.kind == INVOKE_PROPERTYPUT || (m.param_count == 0 && m.result == VT_EMPTY)) continue;
                SCOPED_TRACE(m.name);
                std::vector<VARIANTARG> args(m.param_count + 1);
                std::vector<VARIANTARG*> pointers;
                std::vector<VARTYPE> types;
                for (short p = 0; p < m.param_count; ++p) {
                    V_VT(&args[p]) = VT_BYREF | m.params[p].vt;
                    V_BYREF(&args[p]) = pointer_for(m.params[p].vt);
                }
                if (m.result != VT_EMPTY) {
                    V_VT(&args[m.param_count]) = VT_BYREF | m.result;
                    V_BYREF(&args[m.param_count]) = pointer_for(m.result);
                }
                const UINT count = m.param_count + (m.result != VT_EMPTY ? 1 : 0);
                for (UINT a = 0; a < count; ++a) {
                    pointers.push_back(&args[a]);
                    types.push_back(V_VT(&args[a]));
                }
                VARIANT hr;
                VariantInit(&hr);
                ASSERT_EQ(S_OK, DispCallFunc(object_of(cls), m.slot * sizeof(void*), CC_STDCALL, VT_I4, count,
                                             types.data(), pointers.data(), &hr));
                check(static_cast<HRESULT>(V_I4(&hr)));
            }
        }
    }

    ComPtr<iface::_dxinput> input;
    ComPtr<iface::_dxmodels> models;
};

TEST_F(Arguments, ANullPointerFailsWithEPointerAndADescription) {
    call_each([](VARTYPE) -> void* { return nullptr; },
              [](HRESULT hr) {
                  EXPECT_EQ(E_POINTER, hr);
                  EXPECT_FALSE(error_description().empty());
              });
}

TEST_F(Arguments, ANullStringIsAnEmptyOne) {
    // Numbers are zero and strings null; the result starts empty, as the dispatcher's does.
    struct storage {
        LONG l = 0;
        SHORT i = 0;
        float f = 0;
        VARIANT_BOOL b = VARIANT_FALSE;
        BSTR s = nullptr;
    };
    std::vector<storage> values;
    values.reserve(64);
    call_each(
        [&](VARTYPE vt) -> void* {
            values.emplace_back();
            storage& v = values.back();
            switch (vt) {
            case VT_I4: return &v.l;
            case VT_I2: return &v.i;
            case VT_R4: return &v.f;
            case VT_BOOL: return &v.b;
            default: return &v.s;
            }
        },
        [](HRESULT hr) {
            if (FAILED(hr)) {
                EXPECT_FALSE(error_description().empty()) << std::hex << hr;
            }
        });
    for (auto& v : values) SysFreeString(v.s);
}

}  // namespace
