"""Which tests run each line of the library and the tools.

A mutant changes one line, so a test that never runs that line cannot notice it: the
mutation check runs only the tests that do. The map is made once per state of the
sources, from a build instrumented for coverage: each test
runs alone, writing its counters below a directory of its own (GCOV_PREFIX), and gcov
reads them back.
"""
import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
from pathlib import Path

# Object directories whose sources can be mutated: the library's and the tools'.
MUTABLE_OBJECTS = ("/src/CMakeFiles/", "/tools/CMakeFiles/")


def sources_key(root):
    """Changes whenever a source, test or build file changes, committed or not."""
    def git(*args):
        return subprocess.run(["git", *args], cwd=root, capture_output=True, text=True).stdout
    paths = ["src", "include", "tools", "tests", "CMakeLists.txt", ":(exclude)tests/mutation"]
    state = git("ls-files", "--stage", "--", *paths) + git("diff", "--", *paths)
    return hashlib.sha256(state.encode()).hexdigest()


def test_names(build_dir, skipped_labels):
    listing = subprocess.run(["ctest", "--test-dir", str(build_dir), "--show-only=json-v1",
                              "-LE", skipped_labels], capture_output=True, text=True, check=True)
    return [t["name"] for t in json.loads(listing.stdout)["tests"]]


def lines_run(root, build_dir, counters, env, test, timeout):
    """{file: {line: ran}} for the library and tools sources, after `test` ran alone."""
    shutil.rmtree(counters, ignore_errors=True)
    subprocess.run(["ctest", "--test-dir", str(build_dir), "-R", f"^{test}$",
                    "--timeout", str(timeout)], env=dict(env, GCOV_PREFIX=str(counters)),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    data_files = []
    for data in counters.rglob("*.gcda"):
        original = "/" + str(data.relative_to(counters))
        if any(part in original for part in MUTABLE_OBJECTS):
            data.with_suffix(".gcno").symlink_to(original[: -len(".gcda")] + ".gcno")
            data_files.append(str(data))
    ran = {}
    if data_files:
        report = subprocess.run(["gcov", "--json-format", "--stdout", *data_files],
                                cwd=counters, capture_output=True, text=True)
        for line in report.stdout.splitlines():
            for source in json.loads(line)["files"]:
                path = Path(source["file"])
                if not path.is_absolute() or root not in path.parents:
                    continue
                counts = ran.setdefault(str(path.relative_to(root)), {})
                for entry in source["lines"]:
                    counts[entry["line_number"]] = (counts.get(entry["line_number"], False)
                                                    or entry["count"] > 0)
    shutil.rmtree(counters, ignore_errors=True)
    return ran


def coverage_map(root, build_dir, skipped_labels, timeout, env):
    """{file: {line: [tests that run it]}}, from `build_dir`, built for coverage: a line gcov
    counts but no test runs has an empty list; a line gcov does not count (a declaration,
    a continued statement) is absent, and every test is run for it."""
    cached = build_dir / "line-coverage.json"
    key = sources_key(root)
    if cached.exists() and (saved := json.loads(cached.read_text()))["key"] == key:
        return {f: {int(n): tests for n, tests in lines.items()}
                for f, lines in saved["lines"].items()}
    tests = test_names(build_dir, skipped_labels)
    print(f"recording which lines each of {len(tests)} tests runs", flush=True)
    scratch = build_dir / "counters"
    shutil.rmtree(scratch, ignore_errors=True)
    runners = os.cpu_count() or 2
    with concurrent.futures.ThreadPoolExecutor(runners) as pool:
        runs = pool.map(lambda it: lines_run(root, build_dir, scratch / str(it[0]), env, it[1], timeout),
                        enumerate(tests))
        coverage = {}
        for test, ran in zip(tests, runs):
            for source, counts in ran.items():
                lines = coverage.setdefault(source, {})
                for number, hit in counts.items():
                    lines.setdefault(number, [])
                    if hit:
                        lines[number].append(test)
    cached.write_text(json.dumps({"key": key, "lines": coverage}))
    return coverage
