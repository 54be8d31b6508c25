' A first client: creates the engine's classes, opens the DirectX root objects and
' shows the public state of a graphics object.
Option Explicit
Dim main, graphics
Set main = CreateObject("Quellbrook_dx_8engine.dxmain")
Set graphics = CreateObject("Quellbrook_dx_8engine.dxgraphics")

On Error Resume Next
main.initialize
If Err.Number <> 0 Then
    WScript.Echo "initialize failed: " & Err.Description
    WScript.Quit 1
End If
On Error GoTo 0
WScript.Echo "DirectX root objects created."

graphics.bRunning = True
WScript.Echo "bRunning = " & graphics.bRunning & ", FrameRate = " & graphics.FrameRate & _
    ", Initialised = " & graphics.Initialised

main.engine_unload
WScript.Echo "DirectX root objects released."
