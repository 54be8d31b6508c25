#!/usr/bin/env python3
"""Builds the engine's Windows Installer package for one architecture with wixl.

Usage: gen_installer.py IFACE DLL ARCH STAGE OUT.msi [VERSION]

IFACE is interface/dx8engine.iface, DLL the built engine, STAGE the folder of the release
archive (every file in it is installed, in the same layout). The product's name, maker and
version come from the DLL's version resource; VERSION (four fields) replaces the version, for
building a later package of the same DLL. The WiX source is written beside the package as
OUT.wxs.

The package installs for the current user by default (no elevation, into
%LOCALAPPDATA%\\Programs, registry rows under HKEY_CURRENT_USER\\Software\\Classes) and for all
users with ALLUSERS=1 (Program Files, HKEY_LOCAL_MACHINE\\Software\\Classes). The rows are those
DllRegisterServer writes (src/com/registration.cpp) plus those the platform's RegisterTypeLib
writes for the type library and its interfaces, made here from the interface description; the
package runs no code of the DLL. The upgrade code is fixed per architecture, so a package with a
higher version replaces the installed one (a major upgrade), and the x86 and x64 packages install
side by side.
"""
import os
import re
import struct
import subprocess
import sys
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

sys.path.insert(0, str(Path(__file__).resolve().parent))
import gen_interface as gi  # noqa: E402

# Never changed: Windows Installer finds the package to replace by these.
UPGRADE_CODE = {"i686": "{48D1B271-CEBE-4C7B-B4EE-D7C2CFE0C5FB}",
                "x86_64": "{CFE82541-3945-456B-9B2B-1708E0B07F50}"}
MSI_ARCH = {"i686": "x86", "x86_64": "x64"}
PROGRAM_FILES = {"i686": "ProgramFilesFolder", "x86_64": "ProgramFiles64Folder"}
# The type library's key names the system the DLL is built for.
SYSKIND = {"i686": "win32", "x86_64": "win64"}

# The shapes of the registration, in one place. DllRegisterServer's rows for each class:
THREADING_MODEL = "Apartment"
# RegisterTypeLib's rows: the flags of a library loaded from a file (LIBFLAG_FHASDISKIMAGE)
# and the version in hexadecimal in key names and in each interface's TypeLib key. HELPDIR is
# the DLL's folder, which Windows Installer writes with a final backslash.
TYPELIB_FLAGS = "8"


def classes_rows(lib, types, arch, dll, folder):
    """(key below Software\\Classes, value name or "", data) of every registry value."""
    name, libid, major, minor = lib
    libid = libid.upper()
    hexversion = f"{major:x}.{minor:x}"
    rows = []
    for t in types:
        if isinstance(t, tuple):
            clsid, progid = f"CLSID\\{t[2].upper()}", f"{name}.{t[1]}"
            rows += [(clsid, "", progid), (clsid + "\\InprocServer32", "", dll),
                     (clsid + "\\InprocServer32", "ThreadingModel", THREADING_MODEL),
                     (clsid + "\\ProgID", "", progid), (clsid + "\\TypeLib", "", libid),
                     (clsid + "\\Version", "", f"{major}.{minor}"),
                     (progid, "", progid), (progid + "\\CLSID", "", t[2].upper())]
    tl = f"TypeLib\\{libid}\\{hexversion}"
    rows += [(tl, "", name), (f"{tl}\\0\\{SYSKIND[arch]}", "", dll), (tl + "\\FLAGS", "", TYPELIB_FLAGS),
             (tl + "\\HELPDIR", "", folder)]
    for t in types:
        if isinstance(t, tuple):
            continue
        key = f"Interface\\{t.guid.upper()}"
        stub = gi.PS_OA_INTERFACE if t.kind == "interface" else gi.PS_DISPATCH
        rows += [(key, "", t.name), (key + "\\ProxyStubClsid", "", stub), (key + "\\ProxyStubClsid32", "", stub),
                 (key + "\\TypeLib", "", libid), (key + "\\TypeLib", "Version", hexversion)]
    return rows


def version_resource(dll):
    """(file version as four numbers, ProductName, CompanyName) from the DLL's version resource."""
    data = Path(dll).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise SystemExit(f"{dll} has no version resource")
    ms, ls = struct.unpack_from("<II", data, at + 8)

    def string(key):
        at = data.find(key.encode("utf-16-le") + b"\0\0")
        if at < 0:
            raise SystemExit(f"{dll}: no {key} in the version resource")
        start = at + 2 * len(key) + 2
        start += -start % 4  # the value starts on a 32-bit boundary
        end = start
        while data[end:end + 2] != b"\0\0":
            end += 2
        return data[start:end].decode("utf-16-le")

    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), string("ProductName"), string("CompanyName")


def msi_version(v):
    """Windows Installer compares only three fields: the DLL numbers its builds in the fourth
    (major.minor.0.revision), which becomes the package's third."""
    if v[2] != 0 or v[0] > 255 or v[1] > 255:
        raise SystemExit(f"version {'.'.join(map(str, v))} does not fit a package version (major.minor.0.revision)")
    return f"{v[0]}.{v[1]}.{v[3]}"


def ident(prefix, rel):
    return prefix + re.sub(r"[^A-Za-z0-9_.]", "_", str(rel))


# The two ways to install: (name, condition, registry root, the folders that hold the
# product's folder). For the current user the folder is the user's programs folder, where
# Windows puts a per-user package's Program Files. Each way has components of its own, each
# with its files and fixed registry root, so that a repair or a removal finds them again without
# knowing how the product was installed (Wine, for one, does not bring ALLUSERS back then).
SCOPES = (("user", "NOT ALLUSERS", "HKCU", ("LocalAppDataFolder", "Programs")),
          ("machine", "ALLUSERS", "HKLM", ("{program_files}",)))


def gen_wxs(lib, types, arch, dll, stage, source_dir, version=None):
    """The package's WiX source; wixl reads the files relative to source_dir, the source's folder."""
    fileversion, product, maker = version_resource(dll)
    if version:
        fileversion = tuple(int(x) for x in version.split("."))
    upgrade = UPGRADE_CODE[arch]
    a = MSI_ARCH[arch]
    win64 = ' Win64="yes"' if arch == "x86_64" else ""
    # One folder, named as the product, so that nothing of ours is left when it is removed.
    folder = f"{product} ({a})"
    files = sorted(p.relative_to(stage) for p in Path(stage).rglob("*") if p.is_file())
    dirs = sorted({f.parent for f in files if f.parent != Path(".")})
    if any(len(d.parts) > 1 for d in dirs):
        raise SystemExit(f"{stage}: only one level of folders is laid out")
    out = ['<?xml version="1.0" encoding="utf-8"?>',
           "<!-- Generated by tools/gen_installer.py from interface/dx8engine.iface and the built DLL. Do not edit. -->",
           '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
           f'  <Product Id="*" Name={quoteattr(folder)} Language="1033" '
           f'Version="{msi_version(fileversion)}" Manufacturer={quoteattr(maker)} UpgradeCode="{upgrade}">',
           '    <Package InstallerVersion="200" Compressed="yes" InstallScope="perUser"/>',
           f'    <MajorUpgrade DowngradeErrorMessage={quoteattr(f"A later {folder} is already installed.")}/>',
           '    <Media Id="1" Cabinet="dx8engine.cab" EmbedCab="yes"/>',
           '    <Directory Id="TARGETDIR" Name="SourceDir">']
    components = []
    for scope, condition, root, parents in SCOPES:
        parents = [p.format(program_files=PROGRAM_FILES[arch]) for p in parents]
        out.append(f'      <Directory Id="{parents[0]}">')
        out += [f'      <Directory Id="{scope}_{p}" Name="{p}">' for p in parents[1:]]
        out.append(f'      <Directory Id="{scope}_folder" Name={quoteattr(folder)}>')
        for d in [Path(".")] + dirs:
            if d != Path("."):
                out.append(f'        <Directory Id="{ident(scope + "_d_", d)}" Name={quoteattr(d.name)}>')
            for f in (f for f in files if f.parent == d):
                cid = ident(scope + "_c_", f)
                components.append((cid, condition))
                guid = str(uuid.uuid5(uuid.UUID(upgrade), f"{scope}/{f.as_posix()}")).upper()
                fid = ident(scope + "_f_", f)
                out.append(f'          <Component Id="{cid}" Guid="{{{guid}}}"{win64}>')
                source = quoteattr(os.path.relpath(Path(stage) / f, source_dir))
                out.append(f'            <File Id="{fid}" Source={source} KeyPath="yes"/>')
                if f == Path("dx8engine.dll"):
                    for key, name, value in classes_rows(lib, types, arch, f"[#{fid}]", f"[{scope}_folder]"):
                        named = f" Name={quoteattr(name)}" if name else ""
                        key = quoteattr("Software\\Classes\\" + key)
                        out.append(f'            <RegistryValue Root="{root}" Key={key}{named} '
                                   f'Value={quoteattr(value)} Type="string"/>')
                out.append("          </Component>")
            if d != Path("."):
                out.append("        </Directory>")
        out += ["      </Directory>"] * len(parents) + ["      </Directory>"]
    out += ["    </Directory>", '    <Feature Id="Engine" Level="1">']
    out += [f'      <ComponentRef Id="{c}"/>' for c, _ in components]
    out += ["    </Feature>", "  </Product>", "</Wix>", ""]
    return "\n".join(out), components


def main():
    if len(sys.argv) not in (6, 7):
        raise SystemExit(__doc__)
    iface, dll, arch, stage, target = sys.argv[1:6]
    lib, assembly, types = gi.parse(iface)
    version = sys.argv[6] if len(sys.argv) > 6 else None
    if not version and ".".join(map(str, version_resource(dll)[0])) != assembly[1]:
        raise SystemExit(f"{dll}: its file version is not the assembly version {assembly[1]} of {iface}")
    wxs = Path(target).with_suffix(".wxs")
    text, components = gen_wxs(lib, types, arch, dll, stage, wxs.parent, version)
    wxs.write_text(text)
    subprocess.run(["wixl", "-a", MSI_ARCH[arch], "-o", target, str(wxs)], check=True)
    # wixl 0.101 takes no component conditions: they are written into the package after it.
    queries = [["-q", f"UPDATE Component SET Condition = '{c}' WHERE Component = '{cid}'"] for cid, c in components]
    subprocess.run(["msibuild", target] + sum(queries, []), check=True)


if __name__ == "__main__":
    main()
