#!/usr/bin/env bash
# Which tests catch which faults: plants each fault of tests/mutation/faults.tsv, one at a time, in a copy
# of the tree (the working tree's files as they are, in a folder of its own), rebuilds what the fault
# touches, runs the tests named for it, and prints for every fault the tests that failed, or SURVIVED.
#   scripts/mutate.sh [--check] [PATTERN]
# --check only verifies that every fault's text is found exactly once (the list must follow the code).
# PATTERN keeps the faults whose line matches it (grep -E). Needs a configured toolchain (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
[ "${1:-}" = --check ] && { check=1; shift; }
pattern=${1:-.}
LIST=tests/mutation/faults.tsv
exec python3 - "$check" "$pattern" "$LIST" <<'PY'
import os, re, shutil, subprocess, sys, tempfile
check, pattern, listing = sys.argv[1] == "1", sys.argv[2], sys.argv[3]
faults = []
for number, line in enumerate(open(listing, encoding="utf-8"), 1):
    if line.startswith("#") or not line.strip() or not re.search(pattern, line):
        continue
    file, find, replace, tests = line.rstrip("\n").split("\t")
    faults.append((number, file, find.replace("\\n", "\n"), replace.replace("\\n", "\n"), tests))
stale = [f for f in faults if open(f[1], encoding="utf-8").read().count(f[2]) != 1]
for number, file, find, _, _ in stale:
    print(f"{listing}:{number}: the text is not found exactly once in {file}: {find.strip()}")
if check or stale:
    print(f"{len(faults) - len(stale)} of {len(faults)} faults apply")
    sys.exit(1 if stale else 0)

copy = tempfile.mkdtemp(prefix="veltrane-mutate-")
files = subprocess.run(["git", "ls-files", "-z"], check=True, capture_output=True).stdout.split(b"\0")
for name in filter(None, files):
    name = name.decode()
    if os.path.isfile(name):
        os.makedirs(os.path.join(copy, os.path.dirname(name)), exist_ok=True)
        shutil.copy2(name, os.path.join(copy, name))
build = os.path.join(copy, "build")
launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
subprocess.run(["cmake", "-S", copy, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"] + launcher,
               check=True, stdout=subprocess.DEVNULL)
def make():
    return subprocess.run(["cmake", "--build", build, f"-j{os.cpu_count()}"], capture_output=True).returncode == 0
if not make():
    sys.exit("mutate: the unchanged tree does not build")
caught = 0
for number, file, find, replace, tests in faults:
    path = os.path.join(copy, file)
    original = open(path, encoding="utf-8").read()
    open(path, "w", encoding="utf-8").write(original.replace(find, replace))
    try:
        if not make():
            verdict = "does not build (counted as caught by the compiler)"
            caught += 1
        else:
            run = subprocess.run(["ctest", "-R", f"^({tests})$", "-j2", "--timeout", "300"], cwd=build,
                                 capture_output=True, text=True)
            failed = re.findall(r"\d+ - (\S+) \(", run.stdout)
            ran = re.search(r"out of (\d+)", run.stdout)
            if not ran:
                verdict = f"no test matches {tests}"
            elif run.returncode != 0:
                verdict = "caught by " + ", ".join(failed)
                caught += 1
            else:
                verdict = "SURVIVED"
    finally:
        open(path, "w", encoding="utf-8").write(original)
    print(f"{number:3} {file}: {replace.strip()[:70]!r}: {verdict}", flush=True)
print(f"mutate: {caught} of {len(faults)} faults caught")
shutil.rmtree(copy, ignore_errors=True)
PY
