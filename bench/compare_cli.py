#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Byte-for-byte comparison of two builds of the command-line tool.

    bench/compare_cli.py [--base REV | --base-cli PATH] [--new-cli PATH] [--only TEXT] ...

Runs both tools on the same inputs and compares everything they produce: the written program,
the JSON record, the picture, the HTML page, standard output, standard error and the exit
status. A change that is meant to leave the tool's behaviour alone (a refactoring, a speed-up)
must show no difference; a difference that is a fix is listed with the change that makes it.

The inputs:
- every example program (examples/*.ngc) and every .ngc under tests/, each with several option
  sets (the reports, --no-verify, --allow-gouge, --evade, --start, --end, --trace-source,
  --radius, --strict-interference, standard input...), the tool table of its own folder when
  it has one (examples/tools.tbl otherwise);
- every golden case (tests/cli/cases/*.ngc) with its own arguments, alone and with the reports;
- every refusal row (tests/cli/cases/refusals.tsv);
- every gallery row (tests/cli/gallery) with its own arguments;
- the fuzz corpora of the pipeline (the first two bytes decoded into options as the fuzz target
  decodes them), the language layer and the tool table;
- the command line itself: help, version, and options it refuses.

The base tool is built from REV (default: where the current branch left main) into
build/compare/<commit>/ (only the tool, optimised; ccache is used when installed), unless
--base-cli names one. The new tool defaults to build/release/tools/cutcomp/cutcomp.

Exit status 0 when every run agrees, 1 otherwise (each difference is listed), 2 for a usage
error. This is not a CTest test: it needs two builds.
"""
import argparse
import concurrent.futures
import difflib
import os
import shlex
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")
TESTS = os.path.join(ROOT, "tests")
CASES = os.path.join(TESTS, "cli", "cases")
GALLERY = os.path.join(TESTS, "cli", "gallery")
CORPUS = os.path.join(TESTS, "fuzz", "corpus")
TIMEOUT = 300

# Option sets for every program; OUT, JSON, SVG and HTML name files in the run's folder.
OPTION_SETS = {
    "reports": ["-o", "OUT", "--json", "JSON", "--svg", "SVG", "--html", "HTML"],
    "insert-line": ["--no-verify", "--trace-source", "--start", "insert", "--end", "line",
                    "--json", "JSON"],
    "evade-nofit": ["--allow-gouge", "--evade", "--no-fit", "--locate-rapids", "--precision",
                    "4", "-o", "OUT", "--svg", "SVG"],
    "strict-radius": ["--radius", "1.5", "--strict-interference", "--end", "none", "--start",
                      "intersect", "--look-behind", "0", "--verbose", "-o", "OUT", "--json",
                      "JSON"],
    "html-alone": ["-o", "OUT", "--html", "HTML"],
}
OUTPUT_FILES = {"OUT": "out.ngc", "JSON": "out.json", "SVG": "out.svg", "HTML": "out.html"}

# The pipeline fuzz target's decoding of its first two bytes (tests/fuzz/pipeline_fuzz.cpp).
FUZZ_RADII = [None, "1", "0.25", "5", "-1", "1e-12", "1e12", "0"]
FUZZ_STARTS = ["normal", "intersect", "insert", "normal"]
FUZZ_ENDS = ["retract", "line", "none", "retract"]
FUZZ_LOOK_BEHIND = ["3", "0", "1", "8"]
FUZZ_PRECISION = [None, "4", "6", "9"]
FUZZ_TABLE = ("T1 P1 D6.0\nT2 P2 D4.0\nT3 P3 D10.0\nT4 P4 D3.175\nT5 P5 D1.6\n"
              "T6 P6 D0.25\n")
# The tool table fuzz target's program (tests/fuzz/tool_table_fuzz.cpp).
TABLE_FUZZ_PROGRAM = (
    "G21 G17 G90\nG0 X-20 Y-20\nG41 D1 G1 X0 Y0 F100\nX40\nY30\nX0\nY0\nG40 G1 X-20 Y-20\n"
    "G0 X60 Y0\nG42 D2 G1 X50 Y10\nG2 X50 Y50 I0 J20\nG3 X50 Y90 I0 J20\nG40 G1 X60 Y100\n"
    "T3 M6\nG0 X-10 Y120\nG41 G1 X0 Y120\nX30 Y150\nG40 X40 Y160\nM2\n")


class Case:
    """One run: arguments (with OUT, JSON... placeholders), the folder it runs in (None: a
    scratch folder of its own), files to create there, and standard input."""

    def __init__(self, name, args, cwd=None, files=None, stdin=b""):
        self.name, self.args, self.cwd, self.files, self.stdin = (name, args, cwd, files or {},
                                                                  stdin)


def tool_table_for(folder):
    own = os.path.join(folder, "tools.tbl")
    return own if os.path.exists(own) else os.path.join(EXAMPLES, "tools.tbl")


def leading_fields(path, prefix):
    """The `; key: value` lines that open a program (golden cases and gallery rows)."""
    fields = {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if not line.startswith(";"):
                break
            key, _, value = line[1:].strip().partition(":")
            if key.strip().startswith(prefix) or key.strip() in (prefix,):
                fields.setdefault(key.strip(), []).append(value.strip())
    return fields


def program_cases():
    cases = []
    programs = sorted(os.path.join(EXAMPLES, f) for f in os.listdir(EXAMPLES)
                      if f.endswith(".ngc"))
    for folder, _, files in sorted(os.walk(TESTS)):
        programs += sorted(os.path.join(folder, f) for f in files if f.endswith(".ngc"))
    for path in programs:
        folder, name = os.path.split(path)
        rel = os.path.relpath(path, ROOT)
        table = ["--tool-table", os.path.relpath(tool_table_for(folder), folder)]
        for label, options in OPTION_SETS.items():
            cases.append(Case(f"{rel} [{label}]", [name] + table + options, cwd=folder))
        with open(path, "rb") as f:
            cases.append(Case(f"{rel} [stdin]", ["-", "--json", "JSON"] + table, cwd=folder,
                              stdin=f.read()))
    return cases


def golden_cases():
    cases = []
    for name in sorted(f for f in os.listdir(CASES) if f.endswith(".ngc")):
        args = []
        for value in leading_fields(os.path.join(CASES, name), "cutcomp").get("cutcomp", []):
            args += shlex.split(value)
        cases.append(Case(f"golden {name}", [name] + args, cwd=CASES))
        cases.append(Case(f"golden {name} [reports]",
                          [name] + args + ["--json", "JSON", "--svg", "SVG", "--html", "HTML"],
                          cwd=CASES))
    return cases


def unescape(text, as_bytes):
    out = bytearray()
    k = 0
    while k < len(text):
        if text[k] == "\\" and k + 1 < len(text) and text[k + 1] in "nt":
            out += b"\n" if text[k + 1] == "n" else b"\t"
            k += 2
        elif as_bytes and text.startswith("\\x", k) and k + 3 < len(text):
            out.append(int(text[k + 2:k + 4], 16))
            k += 4
        else:
            out += text[k].encode("utf-8")
            k += 1
    return bytes(out)


def refusal_cases():
    cases = []
    with open(os.path.join(CASES, "refusals.tsv"), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            args = shlex.split(fields[1].replace("CASES/", CASES + "/"))
            cases.append(Case(f"refusals.tsv:{number}", ["in.ngc"] + args + ["--json", "JSON"],
                              files={"in.ngc": unescape(fields[2], True)}))
    return cases


def gallery_cases():
    cases = []
    for name in sorted(f for f in os.listdir(GALLERY) if f.endswith(".ngc")):
        fields = leading_fields(os.path.join(GALLERY, name), "args")
        args = shlex.split(" ".join(fields.get("args", [])))
        cases.append(Case(f"gallery {name}",
                          [name] + args + ["-o", "OUT", "--json", "JSON", "--svg", "SVG"],
                          cwd=GALLERY))
        cases.append(Case(f"gallery {name} [written]",
                          [name] + args + ["--allow-gouge", "--no-verify", "--trace-source"],
                          cwd=GALLERY))
    return cases


def pipeline_fuzz_args(data):
    first = data[0] if len(data) > 0 else 0
    second = data[1] if len(data) > 1 else 0
    args = ["--tool-table", "tools.tbl", "--max-blocks", "20000"]
    radius = FUZZ_RADII[first & 7]
    if radius is not None:
        args += ["--radius", radius]
    args += ["--start", FUZZ_STARTS[(first >> 3) & 3], "--end", FUZZ_ENDS[(first >> 6) & 3]]
    if first & 0x20:
        args.append("--evade")
    args += ["--look-behind", FUZZ_LOOK_BEHIND[second & 3]]
    if second & 4:
        args.append("--locate-rapids")
    precision = FUZZ_PRECISION[(second >> 3) & 3]
    if precision is not None:
        args += ["--precision", precision]
    if second & 0x20:
        args.append("--no-fit")
    if second & 0x40:
        args.append("--trace-source")
    if second & 0x80:
        args += ["--expand-cycles", "--cycle-retract", "0.5"]
    return args


def fuzz_cases():
    cases = []
    folder = os.path.join(CORPUS, "pipeline")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        args = ["in.ngc"] + pipeline_fuzz_args(data) + ["-o", "OUT", "--json", "JSON", "--svg",
                                                        "SVG", "--html", "HTML"]
        cases.append(Case(f"fuzz pipeline/{name}", args,
                          files={"in.ngc": data[2:], "tools.tbl": FUZZ_TABLE.encode()}))
    folder = os.path.join(CORPUS, "language")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        cases.append(Case(f"fuzz language/{name}",
                          ["in.ngc", "--radius", "1", "--max-blocks", "20000", "-o", "OUT",
                           "--json", "JSON", "--html", "HTML"], files={"in.ngc": data}))
    folder = os.path.join(CORPUS, "tool_table")
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        cases.append(Case(f"fuzz tool_table/{name}",
                          ["in.ngc", "--tool-table", "tools.tbl", "-o", "OUT", "--json", "JSON"],
                          files={"in.ngc": TABLE_FUZZ_PROGRAM.encode(), "tools.tbl": data}))
    return cases


def command_line_cases():
    bracket = os.path.join(EXAMPLES, "bracket.ngc")
    table = os.path.join(EXAMPLES, "tools.tbl")
    lines = [
        ["--help"], ["--version"], ["--start", "bogus", bracket], ["--fit", "0", bracket],
        ["--no-fit", "--fit", "0.01", bracket], ["--precision", "12", bracket],
        ["--no-verify", "--gouge-tolerance", "0.01", bracket], ["--tool-units", "feet", bracket],
        ["--max-blocks", "0", bracket], ["--arc-tolerance", "-1", bracket],
        ["missing.ngc"], [bracket, "--tool-table", "missing.tbl"],
        [bracket, "--tool-table", table, "-o", "no/such/folder/out.ngc"],
        [bracket, "--tool-table", table, "--json", "no/such/folder/out.json"],
        [bracket, "--tool-table", table, "--evade", "--no-verify", "--html", "HTML"],
        [bracket, "--radius", "3", "--stock-top", "-1", "--gouge-tolerance", "0.5", "--json",
         "JSON"],
        [bracket, "--radius", "3", "--tool-units", "inch", "--arc-tolerance", "0.2",
         "--subroutine-path", "a:b", "--json", "JSON"],
    ]
    return [Case("command line " + " ".join(os.path.basename(a) for a in args), args)
            for args in lines]


def all_cases():
    return (command_line_cases() + program_cases() + golden_cases() + refusal_cases() +
            gallery_cases() + fuzz_cases())


def run(tool, case, folder):
    """Runs one case in `folder` (its own scratch folder, or the case's folder with outputs
    in the scratch folder). Returns {what: bytes}."""
    cwd = case.cwd or folder
    for name, data in case.files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    outputs = {k: os.path.join(folder, v) if case.cwd else v for k, v in OUTPUT_FILES.items()}
    # Outputs are named alike in both runs: the scratch folder is the same one.
    args = [outputs.get(a, a) for a in case.args]
    try:
        done = subprocess.run([tool] + args, cwd=cwd, input=case.stdin, capture_output=True,
                              timeout=TIMEOUT, check=False)
        result = {"exit": str(done.returncode).encode(), "stdout": done.stdout,
                  "stderr": done.stderr}
    except subprocess.TimeoutExpired:
        result = {"exit": b"timeout", "stdout": b"", "stderr": b""}
    for key, name in OUTPUT_FILES.items():
        path = os.path.join(folder, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                result[key] = f.read()
            os.remove(path)
    return result


def compare(base, new, case):
    with tempfile.TemporaryDirectory(prefix="cutcomp-compare-") as folder:
        before = run(base, case, folder)
        after = run(new, case, folder)
    differences = []
    for key in sorted(set(before) | set(after)):
        a, b = before.get(key), after.get(key)
        if a != b:
            differences.append((key, a, b))
    return case, differences


def show(key, a, b, lines):
    if a is None or b is None:
        return f"    {key}: {'missing before' if a is None else 'missing after'}\n"
    diff = list(difflib.unified_diff(a.decode("utf-8", "replace").splitlines(),
                                     b.decode("utf-8", "replace").splitlines(), "before",
                                     "after", lineterm="", n=1))
    text = f"    {key}: differs\n"
    for line in diff[2:2 + lines]:
        text += "      " + line[:200] + "\n"
    if len(diff) > 2 + lines:
        text += f"      ... ({len(diff) - 2 - lines} more diff lines)\n"
    return text


def build_base(rev):
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", rev], capture_output=True,
                            text=True, check=True).stdout.strip()
    top = os.path.join(ROOT, "build", "compare", commit[:12])
    tool = os.path.join(top, "build", "tools", "cutcomp", "cutcomp")
    if os.path.exists(tool):
        return tool
    source = os.path.join(top, "src")
    if not os.path.isdir(source):
        os.makedirs(source)
        archive = subprocess.Popen(["git", "-C", ROOT, "archive", commit],
                                   stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", source], stdin=archive.stdout, check=True)
        if archive.wait() != 0:
            sys.exit(f"git archive {commit} failed")
    configure = ["cmake", "-S", source, "-B", os.path.join(top, "build"),
                 "-DCMAKE_BUILD_TYPE=Release", "-DCUTCOMP_BUILD_TESTS=OFF",
                 "-DCUTCOMP_BUILD_TOOLS=ON"]
    if shutil.which("ccache"):
        configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", os.path.join(top, "build"), "--target", "cutcomp_cli",
                    "-j2"], check=True, stdout=subprocess.DEVNULL)
    return tool


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--base", help="the revision to compare with (default: the merge base "
                        "of HEAD and main)")
    parser.add_argument("--base-cli", help="a base tool already built")
    parser.add_argument("--new-cli", default=os.path.join(ROOT, "build", "release", "tools",
                                                          "cutcomp", "cutcomp"))
    parser.add_argument("--only", help="run only cases whose name contains this text")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--lines", type=int, default=12, help="diff lines shown per output")
    parser.add_argument("--list", action="store_true", help="list the cases and stop")
    options = parser.parse_args()
    cases = [c for c in all_cases() if not options.only or options.only in c.name]
    if options.list:
        for case in cases:
            print(case.name, "|", " ".join(case.args))
        return 0
    if options.base_cli:
        base = os.path.abspath(options.base_cli)
    else:
        rev = options.base or subprocess.run(["git", "-C", ROOT, "merge-base", "HEAD", "main"],
                                             capture_output=True, text=True,
                                             check=True).stdout.strip()
        base = build_base(rev)
    new = os.path.abspath(options.new_cli)
    for tool in (base, new):
        if not os.access(tool, os.X_OK):
            print(f"no tool at {tool}", file=sys.stderr)
            return 2
    differing = 0
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        for case, differences in pool.map(lambda c: compare(base, new, c), cases):
            if differences:
                differing += 1
                print(f"DIFFERS {case.name}\n    cutcomp {' '.join(case.args)}")
                for key, a, b in differences:
                    print(show(key, a, b, options.lines), end="")
    print(f"{len(cases)} runs compared, {differing} differ "
          f"(base {base}, new {new})")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
