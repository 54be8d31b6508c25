#!/usr/bin/env python3
"""Chooses package versions that let 32-bit packages install beside the 64-bit system.

A library that both architectures install (Multi-Arch: same) must have the same version in
both. When a mirror's 32-bit security list lags behind its 64-bit one, the 64-bit system can
hold versions that no 32-bit list offers, and apt then refuses the 32-bit install outright.
This picks, for every such library the 32-bit packages pull in, the version both lists offer
(the installed one where it can, else the newest they share), and for the 64-bit development
packages tied to those libraries the matching version, so that nothing gets removed. It reads
only the signed lists apt already has.

Prints the arguments for `apt-get install`; exits 1 when no consistent choice is found.
"""
import functools
import re
import subprocess
import sys


def run(*args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def madison(names):
    """{name: [versions]} from apt's lists, for names qualified with an architecture."""
    versions = {}
    for line in run("apt-cache", "madison", *names).splitlines():
        fields = [f.strip() for f in line.split("|")]
        if len(fields) == 3:
            versions.setdefault(fields[0], []).append(fields[1])
    return versions


def version_sorted(versions):
    """Versions in dpkg's order, oldest first."""
    def cmp(a, b):
        if a == b:
            return 0
        lt = subprocess.run(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0
        return -1 if lt else 1
    return sorted(versions, key=functools.cmp_to_key(cmp))


def simulate(args):
    """Whether apt would carry out the install, and what it said."""
    done = subprocess.run(["apt-get", "install", "-s", "--no-install-recommends", *args],
                          capture_output=True, text=True)
    return done.returncode == 0, done.stdout + done.stderr


def main(wanted):
    closure = sorted({
        line[:-len(":i386")]
        for line in run("apt-cache", "depends", "--recurse", "--no-recommends", "--no-suggests",
                        "--no-conflicts", "--no-breaks", "--no-replaces", "--no-enhances",
                        *wanted).splitlines()
        if re.match(r"^[a-z0-9][^ ]*:i386$", line)
    })
    same = set()
    for stanza in run("apt-cache", "show", *(p + ":i386" for p in closure)).split("\n\n"):
        name = re.search(r"^Package: (\S+)", stanza, re.M)
        if name and re.search(r"^Multi-Arch: same", stanza, re.M):
            same.add(name.group(1))
    installed = {}
    for line in run("dpkg-query", "-W", "-f", "${Package} ${Version} ${Status}\n",
                    *(p + ":amd64" for p in sorted(same))).splitlines():
        fields = line.split()
        if line.endswith("install ok installed"):
            installed[fields[0]] = fields[1]
    ours = madison([p + ":i386" for p in installed])
    theirs = madison(list(installed))
    args = list(wanted)
    for p, version in sorted(installed.items()):
        i386 = ours.get(p + ":i386", [])
        if version in i386:
            args.append(f"{p}:i386={version}")
            continue
        shared = [v for v in i386 if v in theirs.get(p, [])]
        if not shared:
            print(f"no version of {p} is offered for both architectures", file=sys.stderr)
            return 1
        v = version_sorted(shared)[-1]
        args += [f"{p}:amd64={v}", f"{p}:i386={v}"]

    # Development packages pin their library's exact version: keep them by moving them along.
    pinned = {}
    for _ in range(4):
        ok, out = simulate(args + [f"{p}={v}" if v else p for p, v in pinned.items()])
        removed = re.findall(r"^Remv (\S+) ", out, re.M)
        ties = re.findall(r"^ (\S+) : Depends: \S+ \(= [^)]+\) but (\S+) is to be installed",
                          out, re.M)
        if ok and not removed and not ties:
            return print(" ".join(args + [f"{p}={v}" if v else p
                                          for p, v in pinned.items()])) or 0
        for p in removed:
            pinned.setdefault(p, None)
        for p, v in ties:
            pinned[p] = v
    print("apt still refuses:\n" + "\n".join(out.splitlines()[-8:]), file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
