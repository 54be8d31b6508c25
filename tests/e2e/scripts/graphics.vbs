' The graphics engine from a script: display modes as text and the errors of calls made
' before the objects they need exist.
Option Explicit
Dim passed, failed
passed = 0
failed = 0

Sub Check(name, ok)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & name
    End If
End Sub

Sub Expect(name, got, want)
    Check name & " (got " & got & ")", got = want
End Sub

Dim m, g, e, d, i, n, w, h, depth, hz, f, allDecimal
Set m = CreateObject("Quellbrook_dx_8engine.dxmain")
Set g = CreateObject("Quellbrook_dx_8engine.dxgraphics")
On Error Resume Next

' Before any listing every row is out of range.
Err.Clear : w = g.engine_show_display_modes_width(0) : Expect "width before listing", Err.Number, 9
Err.Clear : w = g.engine_show_display_modes_hertz(0) : Expect "hertz before listing", Err.Number, 9
Expect "numberofmodes before listing", g.numberofmodes, 0

' Listing needs the Direct3D object.
Err.Clear : g.engine_get_display_modes : Expect "listing before initialize", Err.Number, 91
Err.Clear : m.initialize : Expect "initialize", Err.Number, 0

Err.Clear : f = g.FloatToDWord(1.5) : e = Err.Number : d = Err.Description
Expect "FloatToDWord before a device", e, 91
Expect "description of error 91", d, "Object variable or With block variable not set"

Err.Clear : g.engine_get_display_modes : Expect "listing", Err.Number, 0
n = g.numberofmodes
Check "some modes listed (" & n & ")", n > 0
allDecimal = True
For i = 0 To n - 1
    w = g.engine_show_display_modes_width(i)
    h = g.engine_show_display_modes_height(i)
    depth = g.engine_show_display_modes_depth(i)
    hz = g.engine_show_display_modes_hertz(i)
    If w <> "" Then
        If Not (IsNumeric(w) And IsNumeric(h) And IsNumeric(depth) And IsNumeric(hz)) Then allDecimal = False
        If CStr(CLng(w)) <> w Or CStr(CLng(depth)) <> depth Then allDecimal = False
    End If
Next
Expect "rows read back without error", Err.Number, 0
Check "rows are decimal text", allDecimal
Err.Clear : w = g.engine_show_display_modes_width(n) : Expect "row numberofmodes is out of range", Err.Number, 9
Err.Clear : w = g.engine_show_display_modes_depth(-1) : Expect "row -1 is out of range", Err.Number, 9
Err.Clear : g.engine_render_solid_mode : Expect "fill mode without a device", Err.Number, 91
Err.Clear : g.scene_begin : Expect "scene_begin without a device", Err.Number, 91

' The fourth class through late binding: optional arguments left out, and its errors.
Dim md
Set md = CreateObject("Quellbrook_dx_8engine.dxmodels")
Err.Clear : md.model_place 3, 1, 2, 3 : Expect "model_place without its optional arguments", Err.Number, 0
Err.Clear : md.model_place 3, 1, 2, 3, 0, 90, 0, 2 : Expect "model_place turned and scaled", Err.Number, 0
Err.Clear : md.model_place 801, 0, 0, 0 : Expect "model_place of slot 801", Err.Number, 9
Expect "animations of an empty slot", md.model_animation_count(3), 0
Err.Clear : md.model_animate 3, -1, 0 : Expect "rest pose of an empty slot", Err.Number, 0
Err.Clear : md.model_animate 3, 0, 1.5 : Expect "animation 0 of an empty slot", Err.Number, 9
Err.Clear : md.model_animate 3, -1, 0, 2 : Expect "weight 2", Err.Number, 5
Err.Clear : w = md.model_animation_name(3, 0) : Expect "name of animation 0 of an empty slot", Err.Number, 9

m.engine_unload
WScript.Echo "summary: " & passed & " passed, " & failed & " failed"
