' What a script client can do without a window of its own: create the engine's three classes,
' open the DirectX root objects, list the display modes of the adapter, show the public
' properties of a graphics object, and trap the errors of calls made too early.
'
'   cscript //nologo script_client.vbs
'
' Every call runs under On Error Resume Next and is checked by hand: a script host may end a
' script quietly on an error it does not trap, so nothing is left to it. Ends with
' "script client: done" and exit code 0, or with the number of calls that went wrong and 1.
Option Explicit
Dim main, graphics, keyboard, unexpected
unexpected = 0

' Reports an error that was not expected, with its number, description and source.
Sub Expect(what, wanted)
    If Err.Number <> wanted Then
        unexpected = unexpected + 1
        WScript.Echo "  " & what & ": error " & Err.Number & " (" & Err.Description & ")" & _
            ", expected " & wanted
    End If
    Err.Clear
End Sub

On Error Resume Next
Set main = CreateObject("Quellbrook_dx_8engine.dxmain")
Expect "CreateObject dxmain", 0
Set graphics = CreateObject("Quellbrook_dx_8engine.dxgraphics")
Expect "CreateObject dxgraphics", 0
Set keyboard = CreateObject("Quellbrook_dx_8engine.dxinput")
Expect "CreateObject dxinput", 0
If unexpected > 0 Then
    WScript.Echo "script client: the classes cannot be created; is dx8engine.dll registered?"
    WScript.Quit 1
End If

main.initialize
Expect "dxmain.initialize", 0
WScript.Echo "DirectX root objects created."

' The display modes need only the Direct3D object, no window and no device.
Dim i, n
graphics.engine_get_display_modes
Expect "engine_get_display_modes", 0
n = graphics.numberofmodes
WScript.Echo "Display modes of the adapter: " & n
For i = 0 To n - 1
    If graphics.engine_show_display_modes_width(i) <> "" Then
        WScript.Echo "  " & i & ": " & graphics.engine_show_display_modes_width(i) & " x " & _
            graphics.engine_show_display_modes_height(i) & ", format " & _
            graphics.engine_show_display_modes_depth(i) & ", " & _
            graphics.engine_show_display_modes_hertz(i) & " Hz"
    Else
        WScript.Echo "  " & i & ": not usable full screen"
    End If
    Expect "reading mode " & i, 0
Next

' The public properties: the frame-rate figures are written by the frame cycle, the rest is
' plain storage that the client may use as it likes.
graphics.bRunning = True
graphics.displayfps = True
WScript.Echo "Properties of the graphics object:"
WScript.Echo "  Initialised = " & graphics.Initialised & ", bRunning = " & graphics.bRunning & _
    ", displayfps = " & graphics.displayfps
WScript.Echo "  FrameRate = " & graphics.FrameRate & ", Frameratemax = " & graphics.Frameratemax & _
    ", frameratemin = " & graphics.frameratemin & ", numberofmodes = " & graphics.numberofmodes
Expect "reading the properties", 0

' Errors a script traps: each call fails with an automation error and its description.
Dim s
WScript.Echo "Errors trapped:"
s = graphics.engine_show_display_modes_width(n)
WScript.Echo "  mode " & n & " (one past the last): error " & Err.Number & ", " & Err.Description
Expect "a mode past the last", 9
graphics.scene_begin
WScript.Echo "  scene_begin before a device: error " & Err.Number & ", " & Err.Description
Expect "scene_begin before a device", 91
keyboard.capturekey
WScript.Echo "  capturekey before the keyboard is opened: error " & Err.Number & ", " & Err.Description
Expect "capturekey before the keyboard", 91

main.engine_unload
Expect "dxmain.engine_unload", 0
graphics.engine_get_display_modes
WScript.Echo "  engine_get_display_modes after engine_unload: error " & Err.Number & ", " & Err.Description
Expect "listing after engine_unload", 91
WScript.Echo "DirectX root objects released."

If unexpected > 0 Then
    WScript.Echo "script client: " & unexpected & " calls went wrong"
    WScript.Quit 1
End If
WScript.Echo "script client: done"
