#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Mutation check: how many small faults planted in the engine, the host and the command-line
tool does the test suite catch?

Each row of mutants.tsv names one fault: the file, the exact text to find (it must occur once),
its replacement and a short name. The script copies the source tree to a scratch folder, builds
it once, checks that the suite passes there, then for every mutant plants the fault, rebuilds
(ccache makes the unchanged objects free), runs the test binaries (each once, not once per case) with a timeout and puts the
file back. A mutant is killed when a test fails or times out, survives when every test passes,
and does not count when it fails to compile or its text is not found once.

    bench/mutation/mutate.py                       # every mutant, table to stdout
    bench/mutation/mutate.py --out before.md       # and into a file
    bench/mutation/mutate.py --only tol_,class_    # mutants whose name starts with one of these
    bench/mutation/mutate.py --compare before.md   # also list mutants killed there but not now

It runs on demand, never in CI: a full run takes the better part of an hour on two cores.
"""
import argparse, concurrent.futures, datetime, json, os, re, shutil, subprocess, sys, time

HERE = os.path.dirname(os.path.abspath(__file__))
# Tests that check formatting, lint or packaging rather than behaviour are not run, nor the
# slow memory-bound check of the command-line tool (a million blocks), which no fault of logic
# needs and which would double the time per mutant.
EXCLUDE = r"^(style|packaging)\."
EXCLUDE_LABEL = "slow"


def unescape(text):
    table = {"n": "\n", "t": "\t", "\\": "\\"}
    return re.sub(r"\\(.)", lambda m: table.get(m.group(1), "\\" + m.group(1)), text)


def read_mutants(path):
    mutants = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 4:
                sys.exit("%s:%d: want 4 tab-separated fields (name, file, find, replace)" % (path, number))
            name, file, find, replace = fields
            mutants.append({"name": name, "file": file, "find": unescape(find), "replace": unescape(replace)})
    return mutants


def run(cmd, cwd, timeout=None):
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           timeout=timeout)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        return None, out


def sync_tree(tree, scratch):
    """Mirrors the tree's files (git's view: tracked and untracked, not ignored) into the scratch
    folder, rewriting only files that differ so the scratch build stays incremental."""
    target = os.path.join(scratch, "src-tree")
    code, out = run(["git", "ls-files", "--cached", "--others", "--exclude-standard", "-z"], cwd=tree)
    if code == 0 and os.path.exists(os.path.join(tree, ".git")):
        wanted = {f for f in out.split("\0") if f and os.path.isfile(os.path.join(tree, f))}
    else:  # an exported tree: every file but builds
        wanted = set()
        for root, dirs, files in os.walk(tree):
            dirs[:] = [d for d in dirs if not (root == tree and d in ("build", "out", ".git"))]
            wanted.update(os.path.relpath(os.path.join(root, f), tree) for f in files)
    for f in wanted:
        src, dst = os.path.join(tree, f), os.path.join(target, f)
        data = open(src, "rb").read()
        if not os.path.exists(dst) or open(dst, "rb").read() != data:
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            with open(dst, "wb") as g:
                g.write(data)
            shutil.copymode(src, dst)
    for root, _, files in os.walk(target):
        for name in files:
            rel = os.path.relpath(os.path.join(root, name), target)
            if rel not in wanted:
                os.remove(os.path.join(root, name))
    return target


def configure(source, build):
    code, out = run(["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                     "-DCUTCOMP_BUILD_TESTS=ON", "-DCUTCOMP_BUILD_TOOLS=ON", "-DCUTCOMP_BUILD_BENCH=OFF",
                     "-DCUTCOMP_WARNINGS_AS_ERRORS=OFF", "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"], cwd=source)
    if code != 0:
        sys.exit("configure failed:\n" + out)


def build(build_dir, jobs):
    code, out = run(["cmake", "--build", build_dir, "-j", str(jobs)], cwd=build_dir, timeout=3600)
    return code == 0, out


def suite(build_dir):
    """The suite as commands: ctest's list, with every gtest case of one binary folded into a
    single run of that binary (a process per case would cost more than the cases)."""
    code, out = run(["ctest", "--test-dir", build_dir, "-N", "--show-only=json-v1", "-E", EXCLUDE,
                     "-LE", EXCLUDE_LABEL], cwd=build_dir)
    if code != 0:
        sys.exit("ctest cannot list the suite:\n" + out)
    commands = {}
    for t in json.loads(out)["tests"]:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        command = t["command"]
        if any(a.startswith("--gtest_filter=") for a in command[1:]):
            command = command[:1]
        key = (tuple(command), props.get("WORKING_DIRECTORY", build_dir), tuple(props.get("ENVIRONMENT", [])))
        commands.setdefault(key, t["name"])
    return commands


def test(commands, jobs, timeout):
    """Runs the suite; returns (passed, failing test names, timed out)."""
    def one(item):
        (command, cwd, env), name = item
        environment = dict(os.environ, **dict(e.split("=", 1) for e in env))
        try:
            p = subprocess.run(list(command), cwd=cwd, env=environment, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, errors="replace", timeout=timeout)
        except subprocess.TimeoutExpired:
            return [name + " (timeout)"], True
        if p.returncode == 0:
            return [], False
        failed = sorted(set(re.findall(r"^\[  FAILED  \] ([^\s,]+\.[^\s,]+)", p.stdout, re.M)))
        return failed or [name], False
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        results = list(pool.map(one, commands.items()))
    failing = [name for names, _ in results for name in names]
    return not failing, failing, any(timed_out for _, timed_out in results)


def git_describe(tree):
    code, out = run(["git", "log", "-1", "--format=%h %s"], cwd=tree)
    return out.strip() if code == 0 and os.path.exists(os.path.join(tree, ".git")) else tree


def parse_table(path):
    """Result per mutant name from a table this script wrote."""
    results = {}
    for line in open(path, encoding="utf-8"):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) >= 3 and cells[0].startswith("`"):
            results[cells[0].strip("`")] = cells[2]
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", default=os.path.normpath(os.path.join(HERE, "..", "..")))
    ap.add_argument("--mutants", default=os.path.join(HERE, "mutants.tsv"))
    ap.add_argument("--scratch", default="/tmp/cutcomp-mutation")
    ap.add_argument("--only", default="", help="comma-separated name prefixes")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--timeout", type=int, default=300, help="seconds per test binary")
    ap.add_argument("--out", help="also write the table here")
    ap.add_argument("--compare", help="a table from an earlier run: list mutants it killed that survive now")
    args = ap.parse_args()

    mutants = read_mutants(args.mutants)
    if args.only:
        prefixes = tuple(p for p in args.only.split(",") if p)
        mutants = [m for m in mutants if m["name"].startswith(prefixes)]
    tree = os.path.abspath(args.tree)
    described = git_describe(tree)  # now: the tree may move on while the check runs
    source = sync_tree(tree, os.path.abspath(args.scratch))
    build_dir = os.path.join(os.path.abspath(args.scratch), "build")
    configure(source, build_dir)

    started = time.time()
    ok, out = build(build_dir, args.jobs)
    if not ok:
        sys.exit("the unmutated tree does not build:\n" + out[-4000:])
    commands = suite(build_dir)
    passed, failing, _ = test(commands, args.jobs, args.timeout)
    if not passed:
        sys.exit("the unmutated suite fails: " + ", ".join(failing))
    baseline = time.time() - started
    print("baseline built and passed in %.0f s (%d test commands); %d mutants" % (baseline, len(commands), len(mutants)),
          file=sys.stderr)

    rows = []
    for index, m in enumerate(mutants, 1):
        path = os.path.join(source, m["file"])
        t0 = time.time()
        try:
            original = open(path, encoding="utf-8").read()
        except OSError:
            rows.append((m, "no file", ""))
            continue
        found = original.count(m["find"])
        if found != 1:
            rows.append((m, "not found" if found == 0 else "found %d times" % found, ""))
            continue
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original.replace(m["find"], m["replace"]))
            built, _ = build(build_dir, args.jobs)
            if not built:
                result, detail = "no build", ""
            else:
                passed, failing, timed_out = test(commands, args.jobs, args.timeout)
                if passed:
                    result, detail = "SURVIVED", ""
                else:
                    result = "killed (timeout)" if timed_out else "killed"
                    detail = "%d: %s" % (len(failing), ", ".join(failing[:3]) + (", ..." if len(failing) > 3 else ""))
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        rows.append((m, result, detail))
        print("[%d/%d] %-28s %-16s %4.0f s  %s" % (index, len(mutants), m["name"], result, time.time() - t0, detail),
              file=sys.stderr)
    build(build_dir, args.jobs)  # leave the scratch build unmutated

    counted = [r for r in rows if r[1].startswith(("killed", "SURVIVED"))]
    killed = [r for r in counted if r[1].startswith("killed")]
    lines = ["# Mutation check", "",
             "%s, tree at %s; %d mutants, %d counted, %d killed, %d survived; %.0f min." % (
                 datetime.date.today().isoformat(), described, len(rows), len(counted), len(killed),
                 len(counted) - len(killed), (time.time() - started) / 60), "",
             "| mutant | file | result | failing tests |", "|---|---|---|---|"]
    for m, result, detail in rows:
        lines.append("| `%s` | %s | %s | %s |" % (m["name"], m["file"], result, detail))
    survivors = [r[0]["name"] for r in counted if r[1] == "SURVIVED"]
    lines += ["", "Survivors: " + (", ".join(survivors) if survivors else "none")]
    if args.compare:
        before = parse_table(args.compare)
        lost = [r[0]["name"] for r in rows if r[1] == "SURVIVED" and before.get(r[0]["name"], "").startswith("killed")]
        lines += ["", "Killed in %s but surviving now: %s" % (os.path.basename(args.compare),
                                                               ", ".join(lost) if lost else "none")]
    text = "\n".join(lines) + "\n"
    print(text)
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
