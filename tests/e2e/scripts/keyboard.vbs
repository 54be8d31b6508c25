' dxinput as a script client sees it: calls made too early or after closing fail with
' error 91, an unknown device name fails with a readable description, and an open keyboard
' can be polled. The script host's own event binding (WScript.ConnectObject) is checked
' too: where the host lacks it, a script cannot receive keydown and keyup.
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

Dim m, k, e, d, i, started, took
On Error Resume Next
Set m = CreateObject("Quellbrook_dx_8engine.dxmain")
Set k = CreateObject("Quellbrook_dx_8engine.dxinput")
Check "classes created", Err.Number = 0

' Before dxmain.initialize, and on a keyboard never opened.
Err.Clear : k.engine_initialize 0 : e = Err.Number : Expect "engine_initialize before initialize", e, 91
Err.Clear : k.capturekey : e = Err.Number : d = Err.Description : Expect "capturekey on a closed object", e, 91
Check "description of 91", d = "Object variable or With block variable not set"
Err.Clear : k.engine_Terminate : e = Err.Number : Expect "engine_Terminate on a closed object", e, 91

Err.Clear : m.initialize : e = Err.Number : Expect "initialize", e, 0
Err.Clear : k.engine_initialize 0, "GUID_NoSuchDevice" : e = Err.Number : d = Err.Description
Expect "an unknown device name", e, &H80070057
Check "the description names the device (" & d & ")", InStr(d, "GUID_NoSuchDevice") > 0
Err.Clear : k.capturekey : e = Err.Number : Expect "no device was opened", e, 91

' Opened with the device left out (the system keyboard); each poll pauses the script.
Err.Clear : k.engine_initialize 0 : e = Err.Number : Expect "engine_initialize", e, 0
started = Timer
For i = 1 To 4
    Err.Clear : k.capturekey : e = Err.Number : Expect "capturekey " & i, e, 0
Next
took = Timer - started
Check "four polls take at least 0.18 s (took " & took & ")", took >= 0.18 Or took < 0
Err.Clear : k.engine_initialize 0, "guid_syskeyboard" : e = Err.Number : Expect "opened again, name in any case", e, 0
Err.Clear : k.engine_Terminate : e = Err.Number : Expect "engine_Terminate", e, 0
Err.Clear : k.capturekey : e = Err.Number : Expect "capturekey after engine_Terminate", e, 91
Err.Clear : m.engine_unload : e = Err.Number : Expect "engine_unload after engine_Terminate", e, 0

' Script sinks: the host connects a script's k_keydown and k_keyup, if it can.
Err.Clear : WScript.ConnectObject k, "k_" : e = Err.Number
If e <> 0 Then WScript.Echo "note: this script host cannot connect event handlers (error " & e & ")"
Check "ConnectObject either connects or is refused cleanly", e = 0 Or e = 445

WScript.Echo "summary: " & passed & " passed, " & failed & " failed"

Sub k_keydown(keycode)
End Sub

Sub k_keyup(keycode)
End Sub
