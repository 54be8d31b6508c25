#!/usr/bin/env python3
"""Checks a release archive as a Windows user would receive it.

    check_archive.py ARCHIVE ARCH DEBUG-FILE

The archive holds exactly the expected files under one folder; the DLL is a Windows DLL of
ARCH (PE machine field), without debug sections (objdump -h), under 3 MB, and names its debug
file, which holds the debug information; the type library is one for ARCH's system; the
assembly manifest describes the DLL's three classes for ARCH, and the sample's application
manifest depends on exactly that assembly; the header includes only system headers; the member
reference describes every method, property and event the header declares. Prints one line per
check and exits with 1 if any failed.
"""
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

MACHINE = {"i686": 0x014C, "x86_64": 0x8664}
SYSKIND = {"i686": 1, "x86_64": 3}  # SYS_WIN32, SYS_WIN64 in a type library's header
MANIFEST_ARCH = {"i686": "x86", "x86_64": "amd64"}
ASM = "{urn:schemas-microsoft-com:asm.v1}"
# The glTF and OBJ readers compile in Debian's tinygltf, nlohmann-json and tinyobjloader, with
# the C++ streams they read through: some 1 MB of the 2 MB an optimised DLL has.
LIMIT = 3 * 1024 * 1024

failures = 0


def check(ok, what):
    global failures
    print(f"{'ok' if ok else 'FAIL'}: {what}")
    if not ok:
        failures += 1


def sections(objdump, path):
    out = subprocess.run([objdump, "-h", str(path)], check=True, capture_output=True, text=True).stdout
    return [m.group(1) for m in re.finditer(r"^\s*\d+\s+(\S+)\s", out, re.M)]


def pe_machine(data):
    (offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[offset:offset + 4] != b"PE\0\0":
        return None
    (machine,) = struct.unpack_from("<H", data, offset + 4)
    return machine


def identity(root):
    node = root.find(f"{ASM}assemblyIdentity")
    return None if node is None else dict(node.attrib)


def main():
    archive, arch, debug_file = Path(sys.argv[1]), sys.argv[2], Path(sys.argv[3])
    objdump = f"{arch}-w64-mingw32-objdump"
    top = archive.stem
    expected = {f"{top}/{name}" for name in (
        "dx8engine.dll", "dx8engine.tlb", "Quellbrook.dx8engine.manifest", "README.txt", "REFERENCE.md",
        "include/dx8engine_iface.h", "samples/hello.cpp", "samples/hello.exe.manifest",
        "samples/hello.vbs", "samples/script_client.vbs")}
    with zipfile.ZipFile(archive) as z:
        names = {n for n in z.namelist() if not n.endswith("/")}
        licences = {n for n in names if re.fullmatch(re.escape(top) + r"/(licen[cs]e|copying)[^/]*", n, re.I)}
        check(names - licences == expected,
              f"{archive.name} holds the expected files (missing {sorted(expected - names)}, "
              f"unexpected {sorted(names - licences - expected)})")
        if not expected <= names:
            return
        with tempfile.TemporaryDirectory() as tmp:
            z.extractall(tmp)
            base = Path(tmp) / top
            dll = base / "dx8engine.dll"
            data = dll.read_bytes()
            check(pe_machine(data) == MACHINE[arch], f"dx8engine.dll is a PE image for {arch} "
                  f"(machine {pe_machine(data) or 0:#06x})")
            names_ = sections(objdump, dll)
            check(not [s for s in names_ if s.startswith(".debug")], f"dx8engine.dll has no debug sections ({' '.join(names_)})")
            check(".gnu_debuglink" in names_, "dx8engine.dll names its debug file")
            check(len(data) < LIMIT, f"dx8engine.dll is under 3 MB ({len(data)} bytes)")
            check(".debug_info" in sections(objdump, debug_file), f"{debug_file.name} holds the debug information")

            tlb = (base / "dx8engine.tlb").read_bytes()
            check(tlb[:4] == b"MSFT" and (struct.unpack_from("<I", tlb, 20)[0] & 0xF) == SYSKIND[arch],
                  f"dx8engine.tlb is a type library for {arch}'s system")

            engine = ET.parse(base / "Quellbrook.dx8engine.manifest").getroot()
            ident = identity(engine) or {}
            check(ident.get("processorArchitecture") == MANIFEST_ARCH[arch],
                  f"the assembly manifest is for {MANIFEST_ARCH[arch]}")
            files = engine.findall(f"{ASM}file")
            classes = [c.attrib for f in files for c in f.findall(f"{ASM}comClass")]
            check([f.get("name") for f in files] == ["dx8engine.dll"], "the assembly manifest names dx8engine.dll")
            check(sorted(c.get("progid") for c in classes) ==
                  [f"Quellbrook_dx_8engine.{n}" for n in ("dxgraphics", "dxinput", "dxmain", "dxmodels")] and
                  all(c.get("threadingModel") == "Apartment" for c in classes),
                  "the assembly manifest has the four classes, apartment-threaded, with their ProgIDs")
            header = (base / "include/dx8engine_iface.h").read_text()
            for c in classes:
                name = c["progid"].split(".")[1]
                parts = c["clsid"].strip("{}").split("-")
                check(re.search(rf"CLSID_{name} = \{{0x{parts[0]}, 0x{parts[1]}, 0x{parts[2]},", header, re.I) is not None,
                      f"the manifest and the header agree on the CLSID of {name}")
            check(len(engine.findall(f"{ASM}comInterfaceExternalProxyStub")) == 5,
                  "the assembly manifest describes the five interfaces")

            app = ET.parse(base / "samples/hello.exe.manifest").getroot()
            dependency = app.find(f"{ASM}dependency/{ASM}dependentAssembly/{ASM}assemblyIdentity")
            check(dependency is not None and dependency.attrib == ident,
                  "the sample's application manifest depends on the engine's assembly")
            includes = re.findall(r'^#include\s+(\S+)', header, re.M)
            check(all(i.startswith("<") for i in includes), f"the header includes only system headers ({' '.join(includes)})")

            # Each member of the header has its section in the reference, under its class's name.
            reference = (base / "REFERENCE.md").read_text()
            headings = set(re.findall(r"^#### (\w+\.\w+)\r?$", reference, re.M))
            declared = set()
            for iface, body in re.findall(r"^struct _(\w+) : IDispatch \{(.*?)^\};", header, re.M | re.S):
                declared |= {f"{iface}.{re.sub('^(get|put)_', '', m)}"
                             for m in re.findall(r"STDMETHODCALLTYPE (\w+)\(", body)}
            declared |= {f"{c}.{e}" for c, e in re.findall(r"DISPID_(\w+)_events_(\w+) =", header)}
            check(declared and declared <= headings,
                  f"REFERENCE.md describes the {len(declared)} members the header declares "
                  f"(missing {sorted(declared - headings)})")
            readme = (base / "README.txt").read_text()
            check("REFERENCE.md" in readme, "README.txt points to REFERENCE.md")


if __name__ == "__main__":
    main()
    sys.exit(1 if failures else 0)
