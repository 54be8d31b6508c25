// How Invoke normalises what late-bound callers pass: variants by reference, other types,
// named and omitted arguments, write-back, and failures with exception information.
#include <gtest/gtest.h>

#include "helpers.h"
#include "probe.h"

namespace {

constexpr DISPID engine_load = 0x60030001;
constexpr DISPID float_to_dword = 0x60030000;
constexpr DISPID text_draw = 0x60030011;
constexpr DISPID b_running = 0x40030015;

class Dispatch : public testing::Test {
protected:
    HRESULT call(DISPID id, std::vector<VARIANT*> args, std::vector<DISPID> named = {}, VARIANT* result = nullptr,
                 WORD flags = DISPATCH_METHOD) {
        // rgvarg holds the arguments last first.
        std::vector<VARIANT> rg;
        for (auto it = args.rbegin(); it != args.rend(); ++it) rg.push_back(**it);
        DISPPARAMS dp{rg.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(rg.size()),
                      static_cast<UINT>(named.size())};
        arg_err = 99;
        excep = EXCEPINFO{};
        HRESULT hr = g->Invoke(id, IID_NULL, 0, flags, &dp, result, &excep, &arg_err);
        SysFreeString(excep.bstrSource);
        description = excep.bstrDescription ? excep.bstrDescription : L"";
        SysFreeString(excep.bstrDescription);
        return hr;
    }

    ComPtr<probe_dxgraphics> g = make_probe<probe_dxgraphics>();
    UINT arg_err = 0;
    EXCEPINFO excep{};
    std::wstring description;
};

VARIANT i4(LONG v) {
    VARIANT x;
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}

TEST_F(Dispatch, ScriptVariablesArriveByReferenceAsVariants) {
    variant inner;
    V_VT(&inner) = VT_I2;
    V_I2(&inner) = 42;
    VARIANT ref;
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&ref) = &inner;
    EXPECT_EQ(S_OK, call(engine_load, {&ref}));
    EXPECT_EQ(L"engine_load(42)", g->last);
}

TEST_F(Dispatch, OtherTypesAreConvertedAsTheRuntimeConverts) {
    variant text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"1234");
    EXPECT_EQ(S_OK, call(engine_load, {&text}));
    EXPECT_EQ(L"engine_load(1234)", g->last);

    variant real;
    V_VT(&real) = VT_R8;
    V_R8(&real) = 2.5;
    VARIANT top = i4(1), left = i4(2);
    variant num;
    V_VT(&num) = VT_I4;
    V_I4(&num) = 255;  // a number where text is wanted becomes its decimal text
    EXPECT_EQ(S_OK, call(text_draw, {&real, &top, &left, &num}));
    EXPECT_EQ(L"text_draw(2.5,1,2,255)", g->last);
}

TEST_F(Dispatch, AValueThatDoesNotConvertIsATypeMismatchAtItsPosition) {
    variant text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"abc");
    VARIANT s = i4(0);
    variant color;
    V_VT(&color) = VT_BSTR;
    V_BSTR(&color) = SysAllocString(L"FF");
    g->last.clear();
    // text_draw(text, top := "abc", left, hexcolor): top is rgvarg[2].
    EXPECT_EQ(DISP_E_TYPEMISMATCH, call(text_draw, {&color, &text, &s, &color}));
    EXPECT_EQ(2u, arg_err);
    EXPECT_EQ(L"", g->last);
}

TEST_F(Dispatch, MissingArgumentsGetTheirDefaultsAndRequiredOnesAreReported) {
    bstr hello(L"hi");
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = hello.get();
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    VARIANT left = i4(2);
    EXPECT_EQ(S_OK, call(text_draw, {&text, &missing, &left}));
    EXPECT_EQ(L"text_draw(hi,0,2,CCCCFF)", g->last);

    EXPECT_EQ(DISP_E_PARAMNOTFOUND, call(engine_load, {}));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, call(engine_load, {&left, &left}));
}

TEST_F(Dispatch, NamedArgumentsGoToTheirPositions) {
    bstr hello(L"hi"), red(L"FF0000");
    VARIANT text, color;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = hello.get();
    V_VT(&color) = VT_BSTR;
    V_BSTR(&color) = red.get();
    // text_draw "hi", hexcolor:="FF0000"; named arguments come first in rgvarg.
    DISPPARAMS dp{};
    VARIANT rg[2] = {color, text};
    DISPID named[1] = {3};
    dp.rgvarg = rg;
    dp.rgdispidNamedArgs = named;
    dp.cArgs = 2;
    dp.cNamedArgs = 1;
    EXPECT_EQ(S_OK, g->Invoke(text_draw, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr));
    EXPECT_EQ(L"text_draw(hi,0,0,FF0000)", g->last);

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"TEXT_DRAW"), const_cast<LPOLESTR>(L"HexColor"),
                        const_cast<LPOLESTR>(L"top")};
    DISPID ids[3] = {};
    EXPECT_EQ(S_OK, g->GetIDsOfNames(IID_NULL, names, 3, 0, ids));
    EXPECT_EQ(text_draw, ids[0]);
    EXPECT_EQ(3, ids[1]);
    EXPECT_EQ(1, ids[2]);
    LPOLESTR bad[] = {const_cast<LPOLESTR>(L"no_such_member")};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, g->GetIDsOfNames(IID_NULL, bad, 1, 0, ids));
    EXPECT_EQ(DISPID_UNKNOWN, ids[0]);
}

TEST_F(Dispatch, ByReferenceVariablesReceiveWhatTheMethodLeft) {
    g->write_back = true;
    LONG window = 10;
    VARIANT typed;
    V_VT(&typed) = VT_BYREF | VT_I4;
    V_I4REF(&typed) = &window;
    EXPECT_EQ(S_OK, call(engine_load, {&typed}));
    EXPECT_EQ(11, window);

    variant inner;
    V_VT(&inner) = VT_BSTR;
    V_BSTR(&inner) = SysAllocString(L"abc");
    VARIANT ref;
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&ref) = &inner;
    EXPECT_EQ(S_OK, call(text_draw, {&ref}));
    ASSERT_EQ(VT_BSTR, V_VT(&inner));
    EXPECT_STREQ(L"abc!", V_BSTR(&inner));

    // A by-value argument is the caller's own copy: nothing is written to it.
    VARIANT plain = i4(5);
    EXPECT_EQ(S_OK, call(engine_load, {&plain}));
    EXPECT_EQ(5, V_I4(&plain));
}

TEST_F(Dispatch, ArgumentsOfTheParameterTypeArriveAsTheyAreAndByValueOnesStayTheCallers) {
    constexpr DISPID model_move = 0x6003000E;
    g->write_back = true;
    auto i2 = [](SHORT v) {
        VARIANT x;
        V_VT(&x) = VT_I2;
        V_I2(&x) = v;
        return x;
    };
    auto r4 = [](float v) {
        VARIANT x;
        V_VT(&x) = VT_R4;
        V_R4(&x) = v;
        return x;
    };
    VARIANT index = i2(-7), x = r4(0.1f), y = r4(-2.5f), z = r4(3e38f);
    EXPECT_EQ(S_OK, call(model_move, {&index, &x, &y, &z}));
    EXPECT_EQ(L"model_move(-7,0.1,-2.5,3e+38)", g->last);
    EXPECT_EQ(-7, V_I2(&index));
    EXPECT_EQ(0.1f, V_R4(&x));
    EXPECT_EQ(3e38f, V_R4(&z));

    // The same values in script variables: each receives what the method left, in its type.
    variant vars[4];
    VARIANT refs[4];
    const VARIANT values[4] = {index, x, y, z};
    std::vector<VARIANT*> args;
    for (int i = 0; i < 4; ++i) {
        static_cast<VARIANT&>(vars[i]) = values[i];  // numbers: nothing to copy deeply
        V_VT(&refs[i]) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&refs[i]) = &vars[i];
        args.push_back(&refs[i]);
    }
    EXPECT_EQ(S_OK, call(model_move, args));
    EXPECT_EQ(L"model_move(-7,0.1,-2.5,3e+38)", g->last);
    ASSERT_EQ(VT_I2, V_VT(&vars[0]));
    EXPECT_EQ(-6, V_I2(&vars[0]));
    ASSERT_EQ(VT_R4, V_VT(&vars[2]));
    EXPECT_EQ(-2.0f, V_R4(&vars[2]));

    // A Long and a Boolean of their parameters' types.
    VARIANT window = i4(-123456);
    EXPECT_EQ(S_OK, call(engine_load, {&window}));
    EXPECT_EQ(L"engine_load(-123456)", g->last);
    VARIANT on;
    V_VT(&on) = VT_BOOL;
    V_BOOL(&on) = VARIANT_TRUE;
    EXPECT_EQ(S_OK, call(b_running, {&on}, {DISPID_PROPERTYPUT}, nullptr, DISPATCH_PROPERTYPUT));
    EXPECT_EQ(L"put_bRunning(-1)", g->last);
}

TEST_F(Dispatch, FunctionsReturnTheirResultAndPropertiesGetAndLet) {
    VARIANT f;
    V_VT(&f) = VT_R4;
    V_R4(&f) = 1.0f;
    variant result;
    EXPECT_EQ(S_OK, call(float_to_dword, {&f}, {}, &result, DISPATCH_METHOD | DISPATCH_PROPERTYGET));
    EXPECT_EQ(VT_I4, V_VT(&result));

    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = VARIANT_TRUE;
    EXPECT_EQ(S_OK, call(b_running, {&value}, {DISPID_PROPERTYPUT}, nullptr, DISPATCH_PROPERTYPUT));
    EXPECT_EQ(L"put_bRunning(-1)", g->last);
    variant got;
    EXPECT_EQ(S_OK, call(b_running, {}, {}, &got, DISPATCH_PROPERTYGET | DISPATCH_METHOD));
    EXPECT_EQ(L"get_bRunning(0)", g->last);
    EXPECT_EQ(VT_BOOL, V_VT(&got));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, call(0x12345, {}));
}

TEST_F(Dispatch, AFailingMethodRaisesAnExceptionWithItsDescription) {
    g->fail_with = static_cast<HRESULT>(0x800A0009);
    VARIANT w = i4(1);
    EXPECT_EQ(DISP_E_EXCEPTION, call(engine_load, {&w}));
    EXPECT_EQ(static_cast<HRESULT>(0x800A0009), excep.scode);
    EXPECT_EQ(L"probe failure", description);
    // The error information stays available to the caller as well.
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
    bstr text;
    info->GetDescription(text.out());
    EXPECT_EQ(L"probe failure", text.str());
}

}  // namespace
