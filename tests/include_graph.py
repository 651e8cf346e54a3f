#!/usr/bin/env python3
"""The layers include downwards only: certctl's folders form a DAG, the
lifecycle library and the rest of the host never include the tool, neither
includes a header of the component's own (only the host-facing ones), the
component includes nothing but the public headers, its own and the OpenSSL
toolkit, and the toolkit nothing of the others. Prints each edge that breaks
this and exits 1; run from the project's root."""
import pathlib
import re
import sys

INCLUDE = re.compile(r'#include "([^"]+)"')
# What each top-level folder may include (besides itself).
ALLOWED = {
    "ossl": set(),
    "component": {"include", "ossl"},
    "host": {"include", "ossl"},
    "tools": {"include", "ossl", "host"},
}


def includes(path):
    return INCLUDE.findall(path.read_text(errors="replace"))


def main():
    root = pathlib.Path(".")
    problems = []
    edges = set()
    for folder, allowed in ALLOWED.items():
        for path in sorted(root.joinpath(folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            for header in includes(path):
                top = header.split("/")[0]
                if not (root / header).exists():
                    # A header of include/ or of the component's own folder,
                    # named from inside it: only the component may take the latter.
                    inside = (root / "component" / header).exists() and not (root / "include" / header).exists()
                    if inside and folder != "component":
                        problems.append(f"{path} includes the component's own {header}")
                    continue
                if top != folder and top not in allowed:
                    problems.append(f"{path} includes {header}")
                parts = path.parts
                if folder == "tools" and len(parts) > 3 and header.startswith("tools/certctl/"):
                    source = parts[2] if len(parts) > 3 else "main"
                    target = header.split("/")[2]
                    if target != source and not target.endswith(".h"):
                        edges.add((source, target))
    # certctl's folders: no folder reaches itself through others.
    graph = {}
    for source, target in edges:
        graph.setdefault(source, set()).add(target)

    def reaches(start, goal, seen):
        for following in graph.get(start, ()):
            if following == goal or (following not in seen and reaches(following, goal, seen | {following})):
                return True
        return False

    for source, target in sorted(edges):
        if reaches(target, source, {target}):
            problems.append(f"tools/certctl/{source} includes {target}, which includes it back")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
