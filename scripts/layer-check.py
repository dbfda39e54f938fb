#!/usr/bin/env python3
"""The layering, checked: a file of a library (or program) includes only the
headers of that library and of the libraries it links, directly or through
them. The libraries, their files and their links are read from the
CMakeLists.txt files (add_library, add_executable, target_link_libraries);
headers that belong to none of them (Qt, PCL, the system, generated forms)
are not judged. Prints each include that crosses a layer and exits 1 when
there is one.

    scripts/layer-check.py [SOURCE_DIR]
"""
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
skip = {"build", ".git"}
# The tests' and benchmarks' support headers are shared among them by design.
unjudged = ("tests", "bench")

command = re.compile(r"\b(add_library|add_executable|target_link_libraries)\s*\(([^)]*)\)", re.S)
files = {}  # target -> set of file paths (relative to root)
links = {}  # target -> set of targets it links
for folder, dirs, names in os.walk(root):
    dirs[:] = [d for d in dirs if d not in skip and not d.startswith("build")]
    if "CMakeLists.txt" not in names:
        continue
    text = re.sub(r"#[^\n]*", "", open(os.path.join(folder, "CMakeLists.txt"), encoding="utf-8").read())
    rel = os.path.relpath(folder, root)
    for kind, body in command.findall(text):
        words = body.split()
        if not words:
            continue
        target, rest = words[0], words[1:]
        if kind == "target_link_libraries":
            links.setdefault(target, set()).update(w for w in rest if w.startswith("z540k"))
        else:
            own = files.setdefault(target, set())
            own.update(os.path.normpath(os.path.join(rel, w)) for w in rest if w.endswith((".h", ".cpp")))

owner = {}  # header base name -> targets that list it
for target, own in files.items():
    for path in own:
        if path.endswith(".h"):
            owner.setdefault(os.path.basename(path), set()).add(target)


def reach(target, seen=None):
    seen = set() if seen is None else seen
    for t in links.get(target, ()):
        if t not in seen:
            seen.add(t)
            reach(t, seen)
    return seen


include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
crossings = []
for target, own in sorted(files.items()):
    allowed = reach(target) | {target}
    for path in sorted(own):
        if path.startswith(unjudged):
            continue
        full = os.path.join(root, path)
        if not os.path.exists(full):
            continue
        for name in include.findall(open(full, encoding="utf-8", errors="replace").read()):
            owners = owner.get(os.path.basename(name))
            if owners and not owners & allowed:
                crossings.append(f"{path}: includes {name} of {', '.join(sorted(owners))}, which {target} does not link")

for line in crossings:
    print("layer-check: " + line, file=sys.stderr)
if crossings:
    sys.exit(1)
print(f"layer-check: {sum(len(f) for f in files.values())} files of {len(files)} targets keep to their layers")
