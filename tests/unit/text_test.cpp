// Text drawing and fonts against the recording double.
#include "graphics_fixture.h"

namespace {

class Text : public Graphics {
protected:
    HRESULT draw(const wchar_t* text, SHORT top, SHORT left, const wchar_t* color) {
        bstr t(text), c(color);
        BSTR tb = t.get(), cb = c.get();
        return g->text_draw(&tb, &top, &left, &cb);
    }
    std::string last() const { return log->calls().empty() ? "" : log->calls().back(); }
};

TEST_F(Text, FormatIsTheVerticalFlagOrTheHorizontalFlag) {
    open_device();
    const int flags[3][3] = {{0, 1, 2}, {4, 5, 6}, {8, 9, 10}};
    for (SHORT top = 0; top < 3; ++top)
        for (SHORT left = 0; left < 3; ++left) {
            ASSERT_EQ(S_OK, draw(L"hi", top, left, L"CCCCFF"));
            EXPECT_EQ("D3DX8.DrawText(D3DXFont#1,0xFFCCCCFF,\"hi\",1,1,640,480," + std::to_string(flags[top][left]) +
                          ")",
                      last());
        }
}

TEST_F(Text, ColourTextConvertsAsTheRuntimeConvertsHexText) {
    open_device();
    const std::pair<const wchar_t*, const char*> ok[] = {
        {L"FF0000", "0xFFFF0000"}, {L"00ff80", "0xFF00FF80"}, {L"", "0x000000FF"},
        {L"5", "0x00000FF5"},      {L"123", "0x000FF123"},    {L"12345", "0x0FF12345"},
        // Two digits make a four-digit literal; the runtime here reads it zero-padded.
        {L"80", "0x0000FF80"}};
    for (auto [color, want] : ok) {
        ASSERT_EQ(S_OK, draw(L"x", 0, 0, color));
        EXPECT_NE(std::string::npos, last().find(want)) << last();
    }
    log->clear();
    EXPECT_EQ(com::error_type_mismatch, draw(L"x", 0, 0, L"GG0000"));
    EXPECT_EQ(com::error_type_mismatch, draw(L"x", 0, 0, L"FF 000"));
    EXPECT_EQ(com::error_type_mismatch, draw(L"x", 0, 0, L"-1"));
    EXPECT_EQ(com::error_overflow, draw(L"x", 0, 0, L"1234567"));
    EXPECT_TRUE(log->calls().empty());
}

TEST_F(Text, ColourTextOfAnyLengthReadsUpToItsFirstNullCharacter) {
    open_device();
    auto drawn_colour = [&](const std::wstring& digits) {
        BSTR text = SysAllocString(L"x"), color = SysAllocStringLen(digits.data(), static_cast<UINT>(digits.size()));
        SHORT top = 0, left = 0;
        HRESULT hr = g->text_draw(&text, &top, &left, &color);
        SysFreeString(text);
        SysFreeString(color);
        return hr == S_OK ? last().substr(0, last().find(",\"")) : "failed " + std::to_string(hr);
    };
    EXPECT_EQ(drawn_colour(L"12"), drawn_colour(std::wstring(L"12\0FF", 5)));
    EXPECT_EQ(drawn_colour(L""), drawn_colour(std::wstring(L"\0", 1)));
    // Long texts, put together on the heap rather than on the stack, convert alike.
    for (size_t zeros : {55, 59, 60, 61, 200})
        EXPECT_EQ("failed " + std::to_string(com::error_overflow), drawn_colour(std::wstring(zeros, L'0') + L"1"))
            << zeros;
    EXPECT_EQ(drawn_colour(L"5"), drawn_colour(std::wstring(L"5\0", 2) + std::wstring(100, L'7')));
}

TEST_F(Text, AlignmentsOutsideZeroToTwoAreATypeMismatch) {
    open_device();
    for (auto [top, left] : {std::pair<SHORT, SHORT>{3, 0}, {-1, 0}, {0, 3}, {0, -1}})
        EXPECT_EQ(com::error_type_mismatch, draw(L"x", top, left, L"CCCCFF"));
    EXPECT_TRUE(log->calls().empty());
}

TEST_F(Text, TheLayoutRectangleIsTheStoredScreenSizeFromOneOne) {
    open_root();
    ASSERT_EQ(S_OK, initialise(1, 800, 300));
    ASSERT_EQ(S_OK, draw(L"x", 2, 2, L"CCCCFF"));
    EXPECT_EQ("D3DX8.DrawText(D3DXFont#1,0xFFCCCCFF,\"x\",1,1,800,300,10)", last());
}

TEST_F(Text, OmittedArgumentsArriveAsTheirDefaults) {
    open_device();
    ComPtr<IDispatch> d;
    ASSERT_EQ(S_OK, g.As(&d));
    bstr text(L"hello");
    VARIANT arg;
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = text.get();
    DISPPARAMS one{&arg, nullptr, 1, 0};
    ASSERT_EQ(S_OK, d->Invoke(0x60030011, IID_NULL, 0, DISPATCH_METHOD, &one, nullptr, nullptr, nullptr));
    EXPECT_EQ("D3DX8.DrawText(D3DXFont#1,0xFFCCCCFF,\"hello\",1,1,640,480,0)", last());

    DISPPARAMS none{};
    log->clear();
    ASSERT_EQ(S_OK, d->Invoke(0x60030012, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ((calls{"D3DX8.CreateFont(Direct3DDevice8#1,hfont)", "D3DXFont#1.Release"}), log->calls());
}

TEST_F(Text, TextChangeDescribesTheFontAndReplacesTheDeviceFont) {
    open_device();
    SHORT size = 30;
    bstr name(L"Arial");
    BSTR nb = name.get();
    VARIANT_BOOL bold = VARIANT_FALSE;
    ASSERT_EQ(S_OK, g->text_change(&size, &nb, &bold));
    EXPECT_EQ(1, log->live("D3DXFont"));
    EXPECT_EQ(2, log->made("D3DXFont"));
    ASSERT_EQ(S_OK, draw(L"x", 0, 0, L"CCCCFF"));
    EXPECT_NE(std::string::npos, last().find("D3DXFont#2"));
    // A failing CreateFont leaves the earlier font in use.
    log->fail("D3DX8.CreateFont", E_OUTOFMEMORY);
    EXPECT_EQ(E_OUTOFMEMORY, g->text_change(&size, &nb, &bold));
    ASSERT_EQ(S_OK, draw(L"x", 0, 0, L"CCCCFF"));
    EXPECT_NE(std::string::npos, last().find("D3DXFont#2"));
}

TEST_F(Text, WithoutASetUpTextFailsWithObjectNotSet) {
    EXPECT_EQ(com::error_object_not_set, draw(L"x", 0, 0, L"CCCCFF"));
    SHORT size = 12;
    bstr name(L"Verdana");
    BSTR nb = name.get();
    VARIANT_BOOL bold = 0;
    EXPECT_EQ(com::error_object_not_set, g->text_change(&size, &nb, &bold));
    // With the device gone the font keeps drawing; a new font needs the device.
    open_device();
    g->engine_end();
    EXPECT_EQ(S_OK, draw(L"x", 0, 0, L"CCCCFF"));
    EXPECT_EQ(com::error_object_not_set, g->text_change(&size, &nb, &bold));
}

}  // namespace
