// The engine as a JScript client sees it. JScript hands every number over by value, as VT_I4
// when it is a whole number that fits and as VT_R8 otherwise, and cannot pass a variable by
// reference; the engine's parameters are all by reference, so each call below checks that
// such arguments arrive converted (Integer, Long, Single, Boolean, String) and that failures
// come back as exceptions carrying the error's number and description. JScript gives the
// HRESULT itself as the number: the engine's own errors are 0x800A0000 + the automation error
// (9, 13, 91...); an argument that does not convert fails in the dispatcher before the
// engine runs, with DISP_E_OVERFLOW or DISP_E_TYPEMISMATCH, which JScript passes on as they are
// (VBScript shows them as errors 6 and 13).
var passed = 0, failed = 0;

function check(name, ok) {
    if (ok) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAIL: " + name);
    }
}

// Runs f and returns the HRESULT of the error it raised (0 when it completed), keeping the
// description in lastDescription.
var lastDescription = "";
var OVERFLOW = 0x800A0006, SUBSCRIPT = 0x800A0009, NOT_SET = 0x800A005B, NO_MEMBER = 0x800A01B6;
var DISP_E_OVERFLOW = 0x8002000A, DISP_E_TYPEMISMATCH = 0x80020005;
function errorOf(f) {
    lastDescription = "";
    try {
        f();
        return 0;
    } catch (e) {
        lastDescription = e.description;
        return e.number >>> 0;
    }
}

function expectError(name, f, want) {
    var got = errorOf(f);
    check(name + " (got 0x" + got.toString(16) + ": " + lastDescription + ")", got === want);
}

// Whatever goes wrong outside the checks still ends with the summary line, since the
// script host would end quietly.
try {
    var m = new ActiveXObject("Quellbrook_dx_8engine.dxmain");
    var g = new ActiveXObject("Quellbrook_dx_8engine.dxgraphics");
    var k = new ActiveXObject("Quellbrook_dx_8engine.dxinput");
    check("the three classes by ProgID", m !== null && g !== null && k !== null);

    // Properties: Longs and Booleans from JScript numbers and booleans.
    check("bRunning starts false", g.bRunning === false);
    check("FrameRate starts 0", g.FrameRate === 0);
    g.bRunning = true;
    check("bRunning stored", g.bRunning === true);
    g.FrameRate = 1234;
    check("FrameRate from a whole number", g.FrameRate === 1234);
    g.Frameratemax = 7.75;
    check("Frameratemax from a fraction (VT_R8) is rounded", g.Frameratemax === 8);
    g.frameratemin = -5;
    check("frameratemin negative", g.frameratemin === -5);
    g.displayfps = 1;
    check("displayfps from a number is true", g.displayfps === true);
    expectError("a Long property given 3000000000 overflows", function () { g.FrameRate = 3000000000; }, DISP_E_OVERFLOW);
    check("the property keeps its value after the overflow", g.FrameRate === 1234);

    // FloatToDWord takes a Single: whole numbers, fractions and numeric text all arrive
    // converted and reach the engine, which needs a device for it (error 91); a number too
    // large for a Single or text that is no number stops at the conversion.
    expectError("FloatToDWord(1), a whole number", function () { g.FloatToDWord(1); }, NOT_SET);
    expectError("FloatToDWord(0.1), a fraction", function () { g.FloatToDWord(0.1); }, NOT_SET);
    expectError("FloatToDWord(-1e30), a large fraction", function () { g.FloatToDWord(-1e30); }, NOT_SET);
    expectError("FloatToDWord(\"2.5\"), numeric text", function () { g.FloatToDWord("2.5"); }, NOT_SET);
    expectError("FloatToDWord(1e40) does not fit a Single: overflow", function () { g.FloatToDWord(1e40); }, DISP_E_OVERFLOW);
    expectError("FloatToDWord(\"abc\") is a type mismatch", function () { g.FloatToDWord("abc"); }, DISP_E_TYPEMISMATCH);
    var x = 2;
    errorOf(function () { g.FloatToDWord(x); });
    check("a variable passed by value is left alone", x === 2);

    // Integer parameters from numbers and text; Single from text.
    expectError("model_move with whole numbers and fractions", function () { g.model_move(1, 2.5, 3, 4); }, 0);
    expectError("model_move with numbers given as text", function () { g.model_move("2", "0.5", "1", "-1"); }, 0);
    expectError("model_draw 900 is out of the table", function () { g.model_draw(900); }, SUBSCRIPT);
    check("subscript description", lastDescription === "Subscript out of range");
    expectError("model_draw 70000 overflows an Integer", function () { g.model_draw(70000); }, DISP_E_OVERFLOW);
    expectError("model_draw 1.5e10 overflows an Integer", function () { g.model_draw(1.5e10); }, DISP_E_OVERFLOW);
    expectError("text that is no number is a type mismatch", function () { g.model_draw("seven"); }, DISP_E_TYPEMISMATCH);

    // text_change and text_draw need a device: the arguments are accepted (no type mismatch)
    // and the call fails for want of the font (error 91), with all, some or none of the
    // optional ones.
    expectError("text_change with size, name and bold", function () { g.text_change(14, "Arial", true); }, NOT_SET);
    expectError("text_change with a fractional size", function () { g.text_change(14.4); }, NOT_SET);
    expectError("text_change with no arguments", function () { g.text_change(); }, NOT_SET);
    check("object error description", lastDescription.length > 0);
    expectError("text_draw with only the text", function () { g.text_draw("hello"); }, NOT_SET);
    expectError("text_draw with every argument", function () { g.text_draw("hello", 1, 2, "FF00FF"); }, NOT_SET);

    // dxmain and the display-mode listing: Strings returned to JScript.
    expectError("initialize", function () { m.initialize(); }, 0);
    expectError("engine_get_display_modes", function () { g.engine_get_display_modes(); }, 0);
    check("numberofmodes is above 0", g.numberofmodes > 0);
    var w = g.engine_show_display_modes_width(0);
    check("the first mode's width is text of a number (" + w + ")", typeof w === "string" && Number(w) > 0);
    expectError("a mode past the list", function () { g.engine_show_display_modes_width(g.numberofmodes); }, SUBSCRIPT);

    // dxinput: polling before the keyboard is opened fails with a description.
    expectError("capturekey before engine_initialize", function () { k.capturekey(); }, NOT_SET);
    expectError("a member that does not exist", function () { g.no_such_member(); }, NO_MEMBER);
    expectError("engine_unload", function () { m.engine_unload(); }, 0);
} catch (e) {
    failed++;
    WScript.Echo("FAIL: unexpected error " + (e.number & 0xFFFF) + ": " + e.description);
}

WScript.Echo("summary: " + passed + " passed, " + failed + " failed");
