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

' Runs one statement and returns the error it raised (0 for none).
Function ErrorOf(statement)
    On Error Resume Next
    Err.Clear
    Execute statement
    ErrorOf = Err.Number
    lastDescription = Err.Description
    lastSource = Err.Source
    Err.Clear
End Function
Dim lastDescription, lastSource

Const E_NOTIMPL = &H80004001

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

' dxmain: unload before any initialize, initialize twice, unload twice.
Check "engine_unload before initialize", ErrorOf("m.engine_unload") = 0
Check "initialize", ErrorOf("m.initialize") = 0
Check "initialize again", ErrorOf("m.initialize") = 0
Set m2 = CreateObject("Quellbrook_dx_8engine.dxmain")
Check "initialize through a second dxmain", ErrorOf("m2.initialize") = 0
Check "engine_unload", ErrorOf("m.engine_unload") = 0
Check "engine_unload twice", ErrorOf("m.engine_unload") = 0

' A failing call: the number and a readable description and source.
Check "a value that does not convert is a type mismatch", ErrorOf("g.engine_load ""not a number""") = 13
Check "type mismatch description", lastDescription = "Type mismatch"
Check "overflow of an Integer argument", ErrorOf("g.model_draw 70000") = 6

' Members reached with literals, variables, omitted and named arguments; those not built
' yet report so with their own description.
Dim n, s, t
n = 3
s = "hello"
Check "literal arguments", ErrorOf("g.model_move 1, 2.5, 3, 4") = E_NOTIMPL
Check "not-built description", lastDescription = "model_move is not implemented yet"
Check "source names the class", lastSource = "Quellbrook_dx_8engine.dxgraphics"
Check "variable arguments", ErrorOf("g.model_move n, n, n, n") = E_NOTIMPL
Check "omitted optional arguments", ErrorOf("g.text_draw s") = E_NOTIMPL
Check "omitted middle arguments", ErrorOf("g.text_draw s, , , ""FF00FF""") = E_NOTIMPL
Check "all arguments omitted", ErrorOf("g.engine_Initialise") = E_NOTIMPL
Check "function result", ErrorOf("t = g.engine_show_display_modes_width(n)") = E_NOTIMPL
Check "a required argument cannot be left out", ErrorOf("g.engine_load") <> 0
Check "dxinput member", ErrorOf("k.engine_initialize 0") = E_NOTIMPL
Check "unknown member", ErrorOf("g.no_such_member") = 438

WScript.Echo "summary: " & passed & " passed, " & failed & " failed"
