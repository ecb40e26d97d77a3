"""Fails when the README cites a test, a script or a file that does not exist: every
claim there must be backed by a check that runs."""

import re
import sys
from pathlib import Path

top = Path(__file__).resolve().parents[1]
readme = (top / "README.md").read_text()
cited = set(re.findall(r"`([^`\n]+)`", readme))
unit = set(re.findall(r"^TEST\((\w+), (\w+)\)", "".join(p.read_text() for p in (top / "tests").glob("*.cpp")), re.M))
e2e = set(re.findall(r"^def (test_\w+)", "".join(p.read_text() for p in (top / "tests/e2e").glob("test_*.py")), re.M))
missing = []
for claim in sorted(cited):
    if re.fullmatch(r"[A-Z]\w+\.[A-Z]\w+", claim):
        if tuple(claim.split(".")) not in unit:
            missing.append(f"unit test {claim}")
    elif re.fullmatch(r"test_\w+", claim):
        if claim not in e2e:
            missing.append(f"end-to-end test {claim}")
    elif re.fullmatch(r"e2e_\w+", claim):
        if not (top / "tests/e2e" / f"test_{claim[4:]}.py").exists():
            missing.append(f"end-to-end module {claim}")
    elif re.fullmatch(r"fuzz_\w+", claim):
        if not (top / "tests/fuzz" / f"{claim}.cpp").exists():
            missing.append(f"fuzz target {claim}")
    elif re.fullmatch(r"(tests|scripts|bench|sim|src|man)/[\w./-]+", claim.split()[0]):
        if not (top / claim.split()[0]).exists():
            missing.append(f"file {claim.split()[0]}")
if missing:
    print("The README cites what does not exist:\n  " + "\n  ".join(missing))
    sys.exit(1)
print(f"README: {len(cited)} cited names; every test, script and file among them exists")
