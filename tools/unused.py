#!/usr/bin/env python3
"""Lists functions of src/ that nothing calls: a name declared in a header that appears nowhere
in src/, tests/, bench/ or fuzz/ but in its declaration and its definition. It reads names, not
types, so an overload or a name shared with another class hides a dead function; it never
reports a live one. Exits 1 when it finds any; a name listed in tools/unused-allowed.txt (with the
reason it must stay) is not reported."""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
code = [p for d in ("src", "tests", "bench", "fuzz") for p in (root / d).rglob("*")
        if p.suffix in (".h", ".cpp") and "_autogen" not in p.parts]
texts = {p: p.read_text(encoding="utf-8", errors="replace") for p in code}
word = re.compile(r"\b[A-Za-z_]\w*\b")
counts = {}
for text in texts.values():
    for w in word.findall(text):
        counts[w] = counts.get(w, 0) + 1

# A member or free function declared at the start of a header line: "  type name(".
declaration = re.compile(r"^\s*(?:(?:virtual|static|inline|constexpr|explicit|friend|\[\[nodiscard\]\])\s+)*"
                         r"[\w:<>,*&\s]+?[\s*&](~?[A-Za-z_]\w*)\s*\([^;{]*\)?[^;]*[;{]")
skip = {"operator", "main", "Q_OBJECT", "signals", "slots", "emit", "override", "TEST", "TEST_F"}
allowed = set()
allow_file = root / "tools" / "unused-allowed.txt"
if allow_file.exists():
    allowed = {line.split()[0] for line in allow_file.read_text().splitlines()
               if line.strip() and not line.startswith("#")}
found = []
for header in sorted(p for p in code if p.suffix == ".h" and p.parts[len(root.parts)] == "src"):
    for number, line in enumerate(texts[header].splitlines(), 1):
        if line.lstrip().startswith(("//", "#", "return", "using", "typedef")) or "=" in line.split("(")[0]:
            continue
        m = declaration.match(line)
        if not m:
            continue
        name = m.group(1)
        if name in skip or name in allowed or name.startswith("~"):
            continue
        # Defined where it is declared: no other mention. Declared only: one other mention, which
        # is its definition (at the start of a line, as definitions are written here).
        total = counts.get(name, 0)
        if "{" in line:
            dead = total <= 1
        else:
            others = [l for p, t in texts.items() for l in t.splitlines()
                      if re.search(rf"\b{name}\b", l) and not (p == header and l == line)]
            dead = total <= 2 and all(l[:1] not in (" ", "\t") and re.search(rf"\b{name}\s*\(", l)
                                      for l in others)
        if dead:
            found.append(f"{header.relative_to(root)}:{number}: {name} is never called")
for line in found:
    print(line)
sys.exit(1 if found else 0)
