#!/usr/bin/env python3
"""Generates the C++ side of the engine's public interface from interface/dx8engine.iface.

Usage: gen_interface.py IFACE OUTDIR [ARCH]

Outputs (into OUTDIR):
  public/dx8engine_iface.h  the header clients compile against: GUIDs, the dual interfaces
                         as C++ abstract classes and the DISPIDs of the events; it needs
                         only the Windows SDK headers.
  dx8engine_iface.h      the same, plus per interface a recording probe template used by
                         the binding tests and the declarations of the member tables.
  dx8engine_tables.cpp   the member tables (names, DISPIDs, slots, parameters, defaults)
                         with one call thunk per member; the type-library builder and
                         the dispatcher both read them.
With ARCH (i686 or x86_64), for registration-free use:
  NAME.manifest          the engine's assembly manifest: the DLL with its classes, its
                         type library and its interfaces.
  application.manifest   an application manifest that depends on that assembly, for a
                         client to embed or to put beside its program as PROGRAM.exe.manifest.

Every property, method and event must carry its description (does:, and for a method also
needs: and errors:); the generator refuses a description without them. tools/gen_reference.py
turns the descriptions into the member reference.
"""
import re
import sys
from pathlib import Path

TYPES = {
    # name: (VARTYPE, C++ by-value type, VARIANT union member)
    "Long": ("VT_I4", "LONG", "lVal"),
    "Integer": ("VT_I2", "SHORT", "iVal"),
    "Boolean": ("VT_BOOL", "VARIANT_BOOL", "boolVal"),
    "Single": ("VT_R4", "float", "fltVal"),
    "String": ("VT_BSTR", "BSTR", "bstrVal"),
}


class Param:
    def __init__(self, text):
        m = re.fullmatch(r'(\w+):(\w+)(?:=(".*"|[-\w.]+))?', text)
        if not m:
            raise SystemExit(f"bad parameter: {text}")
        self.name, self.type, default = m.groups()
        if self.type not in TYPES:
            raise SystemExit(f"unknown type {self.type}")
        self.default = default


class Member:
    def __init__(self, kind, name, dispid, result, params):
        self.kind, self.name, self.dispid, self.result, self.params = kind, name, dispid, result, params
        self.description, self.line = {}, 0


class Interface:
    def __init__(self, kind, name, guid):
        self.kind, self.name, self.guid, self.members = kind, name, guid, []
        self.description, self.line = {}, 0


class Coclass(tuple):
    """("coclass", NAME, CLSID, DEFAULT-INTERFACE, EVENT-INTERFACE or None), with a description."""
    description, line = {}, 0


class Library(tuple):
    """(NAME, LIBID, MAJOR, MINOR), with a description."""
    description, line = {}, 0


# The fields of a description, in the order the reference shows them.
DESCRIPTION_FIELDS = ("does", "needs", "errors")
# A member line: its kind, its name and its DISPID.
MEMBER_LINE = re.compile(r"(property|sub|function|event)\s+\w+\s+(0x[0-9A-Fa-f]+|\d+)(\s|$)")


def split_args(text):
    return re.findall(r'\w+:\w+=".*?"|\S+', text)


def parse(path):
    lib, assembly, types = None, None, []
    described, indent, field = None, 0, None  # the item whose description lines may follow
    for number, raw in enumerate(Path(path).read_text().splitlines(), 1):
        stripped = raw.strip()
        if not stripped or stripped.startswith("#"):
            continue
        # A line indented deeper than the item above it, and not a member of it, is part of
        # that item's description: "field: text" starts a field, any other line carries the
        # field on, and one that starts with "- " begins a list item. Taken as written, a '#'
        # included.
        depth = len(raw) - len(raw.lstrip())
        if described is not None and depth > indent and not MEMBER_LINE.match(stripped):
            m = re.match(r"(\w+):(?:\s+|$)(.*)", stripped)
            if m and m.group(1) in DESCRIPTION_FIELDS:
                field = m.group(1)
                if field in described.description:
                    raise SystemExit(f"{path}:{number}: a second '{field}:' for the same item")
                described.description[field] = m.group(2).strip()
            elif field is None:
                raise SystemExit(f"{path}:{number}: description text before any of "
                                 f"{', '.join(f + ':' for f in DESCRIPTION_FIELDS)}")
            else:
                # A line that starts with "- " begins an item of a list.
                joint = "\n" if stripped.startswith("- ") else " "
                described.description[field] = (described.description[field] + joint + stripped).strip()
            continue
        line = raw.split("#", 1)[0].strip()
        words = split_args(line)
        head = words[0]
        if head == "library":
            major, minor = words[3].split(".")
            lib = item = Library((words[1], words[2], int(major), int(minor)))
        elif head == "assembly":
            assembly = (words[1], words[2], words[3])
            item = None
        elif head in ("interface", "dispinterface"):
            item = Interface(head, words[1], words[2])
            types.append(item)
        elif head == "coclass":
            source = None
            for w in words[4:]:
                if w.startswith("source="):
                    source = w[len("source="):]
            item = Coclass(("coclass", words[1], words[2], words[3], source))
            types.append(item)
        elif head == "property":
            item = Member("property", words[1], int(words[2], 16), words[3], [])
        elif head == "sub":
            item = Member("sub", words[1], int(words[2], 16), None, [Param(p) for p in words[3:]])
        elif head == "function":
            item = Member("function", words[1], int(words[2], 16), words[3], [Param(p) for p in words[4:]])
        elif head == "event":
            item = Member("event", words[1], int(words[2], 0), None, [Param(p) for p in words[3:]])
        else:
            raise SystemExit(f"{path}:{number}: unknown line: {raw}")
        if isinstance(item, Member):
            types[-1].members.append(item)
        if item is not None:
            item.description, item.line = {}, number
        described, indent, field = item, depth, None
    return lib, assembly, types


def missing_descriptions(path, types):
    """The members whose description lacks a field it must have, one message each."""
    missing = []
    for t in types:
        if isinstance(t, tuple):
            continue
        for m in t.members:
            needed = DESCRIPTION_FIELDS if m.kind in ("sub", "function") else ("does",)
            lacking = [f + ":" for f in needed if not m.description.get(f)]
            if lacking:
                missing.append(f"{path}:{m.line}: {m.kind} {t.name}.{m.name} has no {' '.join(lacking)} "
                               f"description")
    return missing


def require_descriptions(path, types):
    """Refuses an interface description in which a member is not described."""
    missing = missing_descriptions(path, types)
    if missing:
        raise SystemExit("\n".join(missing) + "\n" + (
            f"{len(missing)} member(s) of {path} without a description: write, on the lines under each, "
            "indented deeper than it, 'does: what it does' and, for a sub or function, also "
            "'needs: the state it needs' and 'errors: the errors it raises'."))


def guid_init(text):
    g = text.strip("{}")
    a, b, c, d, e = g.split("-")
    bytes_ = [d[0:2], d[2:4]] + [e[i:i + 2] for i in range(0, 12, 2)]
    return "{0x%s, 0x%s, 0x%s, {%s}}" % (a, b, c, ", ".join("0x" + x for x in bytes_))


def wstr(s):
    return 'L"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def cpp_id(name):
    """A C++-safe identifier for a type name (no leading or double underscores)."""
    return name[2:] + "_events" if name.startswith("__") else name.lstrip("_")


def methods(iface):
    """Yields (cpp_name, kind, member, slot) in vtable order."""
    slot = 7
    for m in iface.members:
        if m.kind == "property":
            yield ("get_" + m.name, "get", m, slot)
            yield ("put_" + m.name, "put", m, slot + 1)
            slot += 2
        else:
            yield (m.name, m.kind, m, slot)
            slot += 1


def signature(kind, m):
    if kind == "get":
        return [f"{TYPES[m.result][1]}* {m.name}"]
    if kind == "put":
        return [f"{TYPES[m.result][1]} value"]
    args = [f"{TYPES[p.type][1]}* {p.name}" for p in m.params]
    if kind == "function":
        args.append(f"{TYPES[m.result][1]}* result")
    return args


def arg_names(kind, m):
    if kind == "get":
        return [m.name]
    if kind == "put":
        return ["value"]
    names = [p.name for p in m.params]
    if kind == "function":
        names.append("result")
    return names


def gen_public_header(lib, types):
    out = ["// Generated by tools/gen_interface.py from interface/dx8engine.iface. Do not edit.",
           "//",
           f"// The COM interfaces of {lib[0]} {lib[2]}.{lib[3]} for C++ clients (C++17 or later):",
           "// create a class with CoCreateInstance (CLSID_...) or by ProgID through CLSIDFromProgID,",
           "// ask for its interface (IID_...) and call it; link with ole32, oleaut32 and uuid.",
           "// Every method parameter is passed by pointer, as the type library passes it by reference.",
           "#pragma once", "#include <windows.h>", "#include <oaidl.h>", "", "namespace iface {", ""]
    out.append(f"inline constexpr GUID LIBID_{lib[0]} = {guid_init(lib[1])};")
    for t in types:
        if isinstance(t, tuple):
            out.append(f"inline constexpr GUID CLSID_{t[1]} = {guid_init(t[2])};")
        else:
            out.append(f"inline constexpr GUID {'DIID' if t.kind == 'dispinterface' else 'IID'}_{cpp_id(t.name)} = {guid_init(t.guid)};")
    out.append("")
    for t in types:
        if isinstance(t, tuple):
            continue
        if t.kind == "dispinterface":
            # Events arrive through IDispatch::Invoke on the client's sink with these DISPIDs.
            for m in t.members:
                out.append(f"inline constexpr DISPID DISPID_{cpp_id(t.name)}_{m.name} = {m.dispid};")
            out.append("")
            continue
        out.append(f"struct {t.name} : IDispatch {{")
        for name, kind, m, slot in methods(t):
            out.append(f"    virtual HRESULT STDMETHODCALLTYPE {name}({', '.join(signature(kind, m))}) = 0;  // slot {slot}")
        out.append("};")
        out.append("")
    out.append("}  // namespace iface")
    out.append("")
    return "\n".join(out)


def gen_header(lib, types):
    out = ["// Generated by tools/gen_interface.py from interface/dx8engine.iface. Do not edit.",
           "#pragma once", '#include "public/dx8engine_iface.h"', "", "namespace iface {", ""]
    for t in types:
        if isinstance(t, tuple) or t.kind != "interface":
            continue
        # Every method records its name and arguments through the base's hook.
        out.append(f"template <class Base> struct {t.name}_probe : Base {{")
        out.append("    using Base::Base;")
        for name, kind, m, slot in methods(t):
            call = "".join(", " + a for a in arg_names(kind, m))
            out.append(f"    HRESULT STDMETHODCALLTYPE {name}({', '.join(signature(kind, m))}) override {{ return this->record({wstr(name)}{call}); }}")
        out.append("};")
        out.append("")
    out.append("}  // namespace iface")
    out.append("")
    out.append('#include "com/member_table.h"')
    out.append("namespace iface {")
    out.append("extern const com::library_desc library;")
    for t in types:
        if not isinstance(t, tuple):
            out.append(f"extern const com::interface_desc {cpp_id(t.name)}_interface;")
    for t in types:
        if not isinstance(t, tuple) and t.kind == "interface":
            out.append(f"template <> inline const com::interface_desc& desc_of<{t.name}>() {{ return {cpp_id(t.name)}_interface; }}")
    out.append("}  // namespace iface")
    out.append("")
    return "\n".join(out)


# Windows' names of the two architectures in assembly identities.
MANIFEST_ARCH = {"i686": "x86", "x86_64": "amd64"}
# The system's marshallers: dual interfaces go through the type-library marshaller
# (PSOAInterface), pure dispatch interfaces through PSDispatch.
PS_OA_INTERFACE = "{00020424-0000-0000-C000-000000000046}"
PS_DISPATCH = "{00020420-0000-0000-C000-000000000046}"
IID_IDISPATCH = "{00020400-0000-0000-C000-000000000046}"


def assembly_identity(assembly, arch):
    name, version, _ = assembly
    return (f'<assemblyIdentity type="win32" name="{name}" version="{version}" '
            f'processorArchitecture="{MANIFEST_ARCH[arch]}"/>')


def gen_manifest(lib, assembly, types, arch):
    """The engine's assembly manifest: what registration would write, for activation contexts."""
    name, _, dll = assembly
    libid = lib[1].upper()
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
           "<!-- Generated by tools/gen_interface.py from interface/dx8engine.iface. Do not edit. -->",
           '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
           "  " + assembly_identity(assembly, arch),
           f'  <file name="{dll}">',
           f'    <typelib tlbid="{libid}" version="{lib[2]}.{lib[3]}" helpdir="" flags=""/>']
    for t in types:
        if isinstance(t, tuple):
            out.append(f'    <comClass clsid="{t[2].upper()}" progid="{lib[0]}.{t[1]}" threadingModel="Apartment" '
                       f'tlbid="{libid}" description="{t[1]}"/>')
    out.append("  </file>")
    for t in types:
        if isinstance(t, tuple):
            continue
        stub = PS_OA_INTERFACE if t.kind == "interface" else PS_DISPATCH
        out.append(f'  <comInterfaceExternalProxyStub name="{t.name}" iid="{t.guid.upper()}" '
                   f'proxyStubClsid32="{stub}" baseInterface="{IID_IDISPATCH}" tlbid="{libid}"/>')
    out.append("</assembly>")
    out.append("")
    return "\r\n".join(out)


def gen_application_manifest(assembly, arch):
    """An application manifest whose only content is the dependency on the engine's assembly."""
    out = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>',
           "<!-- Generated by tools/gen_interface.py from interface/dx8engine.iface. Do not edit. -->",
           '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">',
           f'  <assemblyIdentity type="win32" name="{assembly[0]}.client" version="1.0.0.0" '
           f'processorArchitecture="{MANIFEST_ARCH[arch]}"/>',
           "  <dependency>",
           "    <dependentAssembly>",
           "      " + assembly_identity(assembly, arch),
           "    </dependentAssembly>",
           "  </dependency>",
           "</assembly>",
           ""]
    return "\r\n".join(out)


def default_init(p):
    if p.default is None:
        return "false, 0.0, nullptr"
    if p.type == "String":
        return f"true, 0.0, {wstr(p.default[1:-1])}"
    if p.type == "Boolean":
        value = {"False": "0.0", "True": "-1.0"}[p.default]
        return f"true, {value}, nullptr"
    return f"true, {float(p.default)!r}, nullptr"


def gen_tables(lib, types):
    out = ["// Generated by tools/gen_interface.py from interface/dx8engine.iface. Do not edit.",
           '#include "dx8engine_iface.h"', "", "namespace iface {", "namespace {", ""]
    for t in types:
        if isinstance(t, tuple):
            continue
        tid = cpp_id(t.name)
        entries = []
        if t.kind == "interface":
            for name, kind, m, slot in methods(t):
                params = []
                if kind == "put":
                    params.append(f'{{nullptr, {TYPES[m.result][0]}, false, false, 0.0, nullptr}}')
                elif kind in ("sub", "function"):
                    params += [f'{{{wstr(p.name)}, {TYPES[p.type][0]}, true, {default_init(p)}}}' for p in m.params]
                pname = f"{tid}_{name}_params"
                if params:
                    out.append(f"const com::param_desc {pname}[] = {{{', '.join(params)}}};")
                if kind == "get":
                    body = f"return static_cast<{t.name}*>(self)->{name}(&result->{TYPES[m.result][2]});"
                elif kind == "put":
                    body = f"return static_cast<{t.name}*>(self)->{name}(args[0].{TYPES[m.result][2]});"
                else:
                    a = [f"&args[{i}].{TYPES[p.type][2]}" for i, p in enumerate(m.params)]
                    if kind == "function":
                        a.append(f"&result->{TYPES[m.result][2]}")
                    body = f"return static_cast<{t.name}*>(self)->{name}({', '.join(a)});"
                out.append(f"HRESULT call_{tid}_{name}(IDispatch* self, VARIANT* args, VARIANT* result) {{ (void)args; (void)result; {body} }}")
                invkind = {"get": "INVOKE_PROPERTYGET", "put": "INVOKE_PROPERTYPUT"}.get(kind, "INVOKE_FUNC")
                result_vt = TYPES[m.result][0] if kind in ("get", "function") else "VT_EMPTY"
                count = len(params)
                entries.append(f'{{{wstr(m.name)}, {m.dispid:#010x}, {invkind}, {slot}, {result_vt}, '
                               f'{pname if params else "nullptr"}, {count}, call_{tid}_{name}}}')
        else:
            for m in t.members:
                pname = f"{tid}_{m.name}_params"
                params = [f'{{{wstr(p.name)}, {TYPES[p.type][0]}, true, false, 0.0, nullptr}}' for p in m.params]
                out.append(f"const com::param_desc {pname}[] = {{{', '.join(params)}}};")
                entries.append(f'{{{wstr(m.name)}, {m.dispid}, INVOKE_FUNC, -1, VT_EMPTY, {pname}, {len(params)}, nullptr}}')
        out.append(f"const com::member_desc {tid}_members[] = {{")
        out += ["    " + e + "," for e in entries]
        out.append("};")
        out.append("")
    out.append("}  // namespace")
    out.append("")
    for t in types:
        if isinstance(t, tuple):
            continue
        tid = cpp_id(t.name)
        guid = ("DIID_" if t.kind == "dispinterface" else "IID_") + tid
        out.append(f"const com::interface_desc {tid}_interface = {{{wstr(t.name)}, {guid}, {'true' if t.kind == 'interface' else 'false'}, "
                   f"{tid}_members, {sum(1 for _ in methods(t)) if t.kind == 'interface' else len(t.members)}}};")
    out.append("")
    out.append("namespace {")
    out.append("const com::coclass_desc coclasses[] = {")
    for t in types:
        if isinstance(t, tuple):
            source = f"&{cpp_id(t[4])}_interface" if t[4] else "nullptr"
            out.append(f"    {{{wstr(t[1])}, CLSID_{t[1]}, &{cpp_id(t[3])}_interface, {source}}},")
    out.append("};")
    out.append("const com::type_entry type_entries[] = {")
    cls = 0
    for t in types:
        if isinstance(t, tuple):
            out.append(f"    {{nullptr, &coclasses[{cls}]}},")
            cls += 1
        else:
            out.append(f"    {{&{cpp_id(t.name)}_interface, nullptr}},")
    out.append("};")
    out.append("}  // namespace")
    out.append("")
    out.append(f"const com::library_desc library = {{{wstr(lib[0])}, LIBID_{lib[0]}, {lib[2]}, {lib[3]}, "
               f"type_entries, {len(types)}, coclasses, {cls}}};")
    out.append("")
    out.append("}  // namespace iface")
    out.append("")
    return "\n".join(out)


def main():
    source, outdir = sys.argv[1], Path(sys.argv[2])
    arch = sys.argv[3] if len(sys.argv) > 3 else None
    lib, assembly, types = parse(source)
    require_descriptions(source, types)
    outputs = [("public/dx8engine_iface.h", gen_public_header(lib, types)),
               ("dx8engine_iface.h", gen_header(lib, types)),
               ("dx8engine_tables.cpp", gen_tables(lib, types))]
    if arch:
        if arch not in MANIFEST_ARCH or not assembly:
            raise SystemExit(f"no manifest for {arch}: the architecture or the assembly line is missing")
        outputs += [(f"{assembly[0]}.manifest", gen_manifest(lib, assembly, types, arch)),
                    ("application.manifest", gen_application_manifest(assembly, arch))]
    for name, text in outputs:
        path = outdir / name
        path.parent.mkdir(parents=True, exist_ok=True)
        # Written only when changed, so that nothing rebuilds for an unchanged description.
        if not path.exists() or path.read_bytes() != text.encode():
            path.write_bytes(text.encode())


if __name__ == "__main__":
    main()
