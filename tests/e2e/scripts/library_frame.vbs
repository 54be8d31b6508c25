' The library frame as a script client sees it: the classes by ProgID, the public
' properties, dxmain, error numbers and descriptions, and calls with literals, variables,
' omitted arguments and named members.
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

' Checks an error number (or any value) against the one expected.
Sub Expect(name, got, want)
    Check name & " (got " & got & ")", got = want
End Sub

' Statements below run as "Err.Clear : statement : Expect ..., Err.Number, n": Wine's
' VBScript has no Execute, so each failing call is trapped in line.
Dim e, d, src


Dim m, g, k, m2
On Error Resume Next
Set m = CreateObject("Quellbrook_dx_8engine.dxmain")
Check "create dxmain", Err.Number = 0
Set g = CreateObject("Quellbrook_dx_8engine.dxgraphics")
Check "create dxgraphics", Err.Number = 0
Set k = CreateObject("Quellbrook_dx_8engine.dxinput")
Check "create dxinput", Err.Number = 0
Err.Clear
On Error GoTo 0

' The public variables start at 0 and False and keep what is written.
Check "bRunning starts False", g.bRunning = False
Check "FrameRate starts 0", g.FrameRate = 0
g.bRunning = True
Check "bRunning stored", g.bRunning = True
g.displayfps = True
Check "displayfps stored", g.displayfps = True
g.displayfps = False
Check "displayfps cleared", g.displayfps = False
Dim v
v = 1234
g.FrameRate = v
g.Frameratemax = 99
g.frameratemin = -5
g.numberofmodes = "17"
g.Initialised = True
Check "FrameRate from a variable", g.FrameRate = 1234
Check "Frameratemax", g.Frameratemax = 99
Check "frameratemin", g.frameratemin = -5
Check "numberofmodes converted from text", g.numberofmodes = 17
Check "Initialised", g.Initialised = True
Check "names ignore case", g.FRAMERATEMAX = 99 And g.FrameRateMin = -5
Check "instances are separate", CreateObject("Quellbrook_dx_8engine.dxgraphics").FrameRate = 0

On Error Resume Next

' dxmain: unload before any initialize, initialize twice, unload twice.
Err.Clear : m.engine_unload : e = Err.Number : d = Err.Description : src = Err.Source : Expect "engine_unload before initialize", e, 0
Err.Clear : m.initialize : e = Err.Number : d = Err.Description : src = Err.Source : Expect "initialize", e, 0
Err.Clear : m.initialize : e = Err.Number : d = Err.Description : src = Err.Source : Expect "initialize again", e, 0
Set m2 = CreateObject("Quellbrook_dx_8engine.dxmain")
Err.Clear : m2.initialize : e = Err.Number : d = Err.Description : src = Err.Source : Expect "initialize through a second dxmain", e, 0
Err.Clear : m.engine_unload : e = Err.Number : d = Err.Description : src = Err.Source : Expect "engine_unload", e, 0
Err.Clear : m.engine_unload : e = Err.Number : d = Err.Description : src = Err.Source : Expect "engine_unload twice", e, 0

' A failing call: the number and a readable description and source.
Err.Clear : g.engine_load "not a number" : e = Err.Number : d = Err.Description : src = Err.Source : Expect "a value that does not convert is a type mismatch", e, 13
Check "type mismatch description", d = "Type mismatch"
Err.Clear : g.model_draw 70000 : e = Err.Number : d = Err.Description : src = Err.Source : Expect "overflow of an Integer argument", e, 6

' Members reached with literals, variables, omitted and named arguments.
Dim n, s, t
n = 3
s = "hello"
Err.Clear : g.model_move 1, 2.5, 3, 4 : e = Err.Number : d = Err.Description : src = Err.Source : Expect "literal arguments", e, 0
Err.Clear : g.model_draw 900 : e = Err.Number : d = Err.Description : src = Err.Source : Expect "index out of range", e, 9
Check "subscript description", d = "Subscript out of range"
Check "source names the class", src = "Quellbrook_dx_8engine.dxgraphics"
Err.Clear : g.model_move n, n, n, n : e = Err.Number : d = Err.Description : src = Err.Source : Expect "variable arguments", e, 0
' Without a device, text reaches the engine and fails for want of the font (91), not at the
' arguments (13).
Err.Clear : g.text_draw s : e = Err.Number : d = Err.Description : src = Err.Source : Expect "omitted optional arguments", e, 91
Err.Clear : g.text_draw s, , , "FF00FF" : e = Err.Number : d = Err.Description : src = Err.Source : Expect "omitted middle arguments", e, 91
Err.Clear : g.text_change : e = Err.Number : d = Err.Description : src = Err.Source : Expect "all arguments omitted", e, 91
Err.Clear : t = g.engine_show_display_modes_width(n) : e = Err.Number : d = Err.Description : src = Err.Source : Expect "function result", e, 9
Err.Clear : g.engine_load : e = Err.Number : Check "a required argument cannot be left out", e <> 0
Err.Clear : k.engine_initialize 0 : e = Err.Number : Check "dxinput member accepts its arguments", e <> 13 And e <> 450
Err.Clear : g.no_such_member : e = Err.Number : d = Err.Description : src = Err.Source : Expect "unknown member", e, 438

WScript.Echo "summary: " & passed & " passed, " & failed & " failed"
