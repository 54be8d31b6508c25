#!/usr/bin/env python3
"""The member reference's generator refuses an interface description in which a property,
method or event is not described: it fails, names each such member with its line and what its
description lacks, and writes nothing.

    undocumented_member.py GENERATOR

GENERATOR is tools/gen_reference.py; it runs on a small description in a temporary folder.
"""
import subprocess
import sys
import tempfile
from pathlib import Path

IFACE = """\
library Demo {00000000-0000-0000-0000-00000000D001} 1.0
interface _demo {00000000-0000-0000-0000-00000000D002}
  property described_property 0x40030000 Long
      does:   Described.
  property undocumented_property 0x40030001 Long
  sub described_sub 0x60030000 value:Long
      does:   Described,
              over two lines.
      needs:  Nothing.
      errors: None.
  sub half_described_sub 0x60030001
      does:   Described, but neither what it needs nor what it raises.
  function undocumented_function 0x60030002 Long
coclass demo {00000000-0000-0000-0000-00000000D003} _demo source=__demo
dispinterface __demo {00000000-0000-0000-0000-00000000D004}
  event undocumented_event 1 code:Long
"""

REFUSED = [
    "undocumented.iface:5: property _demo.undocumented_property has no does: description",
    "undocumented.iface:11: sub _demo.half_described_sub has no needs: errors: description",
    "undocumented.iface:13: function _demo.undocumented_function has no does: needs: errors: description",
    "undocumented.iface:16: event __demo.undocumented_event has no does: description",
    "4 member(s) of",
]


def main():
    generator = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        iface, out = Path(tmp) / "undocumented.iface", Path(tmp) / "reference.md"
        iface.write_text(IFACE)
        run = subprocess.run([sys.executable, generator, str(iface), str(out)], capture_output=True, text=True)
        print(run.stderr, end="")
        if run.returncode == 0:
            failures.append("the generator accepted members without a description")
        failures += [f"the refusal does not say: {line}" for line in REFUSED if line not in run.stderr]
        failures += [f"the refusal names {name}, which is described" for name in ("described_property", "described_sub")
                     if f".{name} " in run.stderr]
        if out.exists():
            failures.append("a reference was written all the same")
    for f in failures:
        print("FAIL:", f)
    print("refused as it should" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
