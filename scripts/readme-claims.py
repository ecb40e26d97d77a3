"""Fails when README.md, CONTRIBUTING.md or docs/*.md cites a test, a script or a file
that does not exist: every claim there must be backed by a check that runs."""

import re
import sys
from pathlib import Path

top = Path(__file__).resolve().parents[1]
documents = [top / "README.md", top / "CONTRIBUTING.md", *sorted((top / "docs").glob("*.md"))]
unit = set(re.findall(r"^TEST\((\w+), (\w+)\)", "".join(p.read_text() for p in (top / "tests").glob("*.cpp")), re.M))
e2e = set(re.findall(r"^def (test_\w+)", "".join(p.read_text() for folder in ("tests/e2e", "tests/web")
                                                  for p in (top / folder).glob("test_*.py")), re.M))


def missing_in(claim):
    if re.fullmatch(r"[A-Z]\w+\.[A-Z]\w+", claim):
        return None if tuple(claim.split(".")) in unit else f"unit test {claim}"
    if re.fullmatch(r"test_\w+(\[[^]]*\])?", claim):
        return None if claim.split("[")[0] in e2e else f"end-to-end test {claim}"
    if re.fullmatch(r"fuzz_\w+", claim):
        return None if (top / "tests/fuzz" / f"{claim}.cpp").exists() else f"fuzz target {claim}"
    module = re.match(r"python3 -m ([\w.]+)", claim)
    path = module.group(1).replace(".", "/") + ".py" if module else claim.split()[0]
    if re.fullmatch(r"(tests|scripts|bench|sim|src|man|docs|packaging)/[\w./-]+", path):
        return None if (top / path).exists() else f"file {path}"
    return None


failed, cited = [], 0
for document in documents:
    claims = set(re.findall(r"`([^`\n]+)`", document.read_text()))
    cited += len(claims)
    failed += [f"{document.relative_to(top)} cites {what}, which does not exist"
               for what in sorted(filter(None, map(missing_in, claims)))]
if failed:
    print("\n".join(failed))
    sys.exit(1)
print(f"{len(documents)} documents, {cited} cited names: every test, script and file among them exists")
