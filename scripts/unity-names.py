#!/usr/bin/env python3
"""Finds file-local names that a unity batch would let stand for another file's.

A unity batch compiles several sources as one: their anonymous namespaces merge, so a helper
one file keeps to itself (say Slurp in namespace X's anonymous namespace) becomes, for every
later file of the batch, the nearest Slurp, and silently hides X's own Slurp there; two
file-local overloads of one name likewise become one overload set. Neither fails to compile.

The fuzz preset compiles each source on its own and without optimisation, so its objects hold
every helper as its own file defined it. A file-local name (anonymous namespace or static) is
reported when another source of the same unity batch of the native build, or another source
of the same target, defines a name of the same namespace and base name.

usage: unity-names.py BUILD_WITHOUT_UNITY UNITY_BUILD
"""
import collections
import os
import subprocess
import sys


def batches(unity_build):
    """Maps each source, by real path, to the unity batch that includes it."""
    found = subprocess.run(["find", unity_build, "-path", "*/Unity/unity_*_cxx.cxx"],
                           capture_output=True, text=True, check=True).stdout.split()
    batch_of = {}
    for batch in found:
        with open(batch) as f:
            for line in f:
                line = line.strip()
                if line.startswith('#include "'):
                    batch_of[os.path.realpath(line[len('#include "'):-1])] = batch
    return batch_of


def base_name(symbol):
    """zorvex::x::(anonymous namespace)::Slurp(std::string const&) -> zorvex::x::Slurp"""
    symbol = symbol.replace("(anonymous namespace)::", "")
    depth = 0
    for i, c in enumerate(symbol):
        if c == "<":
            depth += 1
        elif c == ">":
            depth -= 1
        elif c == "(" and depth == 0 and i > 0:
            return symbol[:i]
    return symbol


def definitions(build, source_dir):
    """Yields (target, source, local, symbol) for what the project's objects define."""
    objects = subprocess.run(["find", build, "-name", "*.o", "-path", "*/CMakeFiles/*"],
                             capture_output=True, text=True, check=True).stdout.split()
    for obj in objects:
        top, rest = ("/" + obj[len(build) + 1:]).split("/CMakeFiles/", 1)
        target, rel = rest.split(".dir/", 1)
        source = os.path.realpath(os.path.join(source_dir, top.lstrip("/"), rel[:-2].replace("__/", "../")))
        listing = subprocess.run(["nm", "-C", "--defined-only", obj],
                                 capture_output=True, text=True, check=True).stdout
        for line in listing.splitlines():
            parts = line.split(" ", 2)
            if len(parts) < 3 or parts[1] not in "tTWwVvuiRrDdBb":
                continue
            symbol = parts[2]
            if not symbol.startswith("zorvex::"):
                continue
            local = parts[1] in "tdbr" or "(anonymous namespace)" in symbol
            yield target, source, local, symbol


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, unity_build = sys.argv[1], sys.argv[2]
    source_dir = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
    batch_of = batches(unity_build)
    by_name = collections.defaultdict(set)
    for target, source, local, symbol in definitions(build, source_dir):
        if "{lambda" not in symbol:
            by_name[base_name(symbol)].add((target, source, local, symbol))
    clashes = 0
    for name, defs in sorted(by_name.items()):
        pairs = set()
        for a in defs:
            for b in defs:
                if not a[2] or a[1] == b[1]:
                    continue
                same_batch = a[1] in batch_of and batch_of[a[1]] == batch_of.get(b[1])
                if same_batch or a[0] == b[0]:
                    pairs.add(tuple(sorted((a, b))))
        for a, b in sorted(pairs):
            clashes += 1
            print(f"{name}: {os.path.relpath(a[1], source_dir)} ({a[3]}) and "
                  f"{os.path.relpath(b[1], source_dir)} ({b[3]})")
    if clashes:
        print(f"{clashes} file-local names share a name with another file's helper of their "
              "unity batch or target: rename one")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
