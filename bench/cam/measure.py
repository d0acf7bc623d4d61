#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Completion rate of the generated CAM-like programs (generate.py) through the built tool.

    bench/cam/measure.py PROGRAM_DIR --cutcomp build/release/tools/cutcomp/cutcomp [--evade]
        [--fit TOL | --no-fit] [--audit build/release/bench/cam/cam_audit]
    bench/cam/measure.py PROGRAM_DIR --driver build/release/bench/cam/cam_fit_driver [--fit 0.005]

With --cutcomp, every program goes through the command-line tool with the radius from the
manifest (exit code 0 counts as completed); --fit and --no-fit go to it as they are (without
them it fits with its default tolerance). With --audit, every completed path is audited against
the programmed chords by the library's gouge audit (cam_audit, through the tool's --json record),
counting paths that come nearer the chords than r - TOL (TOL the fitting tolerance, 0.005 mm by
default) and than r - TOL - 0.0019 r, apart from the point where a closed contour closes
(counted on its own, see cam_audit.cpp). With --driver, through the fitting prototype, which
also reports how much nearer than r its tool path comes to the programmed chords (the gouge):
counted beyond the fitting tolerance, and beyond it plus the engine's smooth-joint allowance.
Other arguments go to the tool unchanged. Prints the rate overall and by shape,
chord length, decimals and side, and the commonest reasons for refusal.
"""
import argparse
import collections
import concurrent.futures
import csv
import os
import re
import subprocess
import tempfile

CHORD_BINS = (0.03, 0.1, 0.3, 1.01)
# The engine joins two moves whose directions differ by less than about 3.5 degrees as if they
# were smooth; its path can then come up to r (1 - cos 3.5 deg) = 0.0019 r nearer the contour.
JOINT = 0.0019


def chord_bin(h):
    lo = 0.01
    for hi in CHORD_BINS:
        if h < hi:
            return "%.2f-%.2f mm" % (lo, min(hi, 1.0))
        lo = hi
    return "longer"


def run_one(job):
    cmd, row, audit = job
    proc = subprocess.run(cmd, capture_output=True, text=True)
    if audit and proc.returncode == 0:
        record = cmd[cmd.index("--json") + 1]
        checked = subprocess.run([audit[0], record, audit[1]], capture_output=True, text=True)
        os.remove(record)
        proc.stdout = checked.stdout if checked.returncode == 0 else "audit failed: " + checked.stderr
    elif audit:
        os.remove(cmd[cmd.index("--json") + 1])
    lines = proc.stderr.strip().splitlines()
    reason = ""
    for line in lines:
        if "error" in line:
            reason = re.sub(r"^.*?error: ", "", line)
            reason = re.sub(r"\s*\(.*$", "", reason)
            break
    return row, proc.returncode, reason, proc.stdout


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("programs")
    ap.add_argument("--cutcomp")
    ap.add_argument("--driver")
    ap.add_argument("--evade", action="store_true")
    ap.add_argument("--fit", type=float, help="fitting tolerance (driver: 0 or none, no fitting)")
    ap.add_argument("--no-fit", action="store_true", help="the command-line tool fits nothing")
    ap.add_argument("--audit", help="cam_audit: audit every completed path against the chords")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--failures", help="write the names of the refused programs to this file")
    args, extra = ap.parse_known_args()
    if bool(args.cutcomp) == bool(args.driver):
        ap.error("give one of --cutcomp and --driver")
    with open(os.path.join(args.programs, "manifest.tsv")) as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    jobs = []
    scratch = tempfile.mkdtemp() if args.audit else None
    # The tolerance the path is held to: the fitting tolerance (the CLI's default 0.005 mm; none
    # for the driver without --fit), or rounding only for chords compensated as they are.
    tol = (args.fit or 0.0) if args.driver else 1e-6 if args.no_fit else (args.fit or 0.005)
    for row in rows:
        path = os.path.join(args.programs, row["file"])
        if args.cutcomp:
            cmd = [args.cutcomp, path, "--radius", row["radius"], "-o", os.devnull]
            if args.fit is not None:
                cmd += ["--fit", repr(args.fit)]
            if args.no_fit:
                cmd.append("--no-fit")
        else:
            cmd = [args.driver, path, row["radius"]]
            if args.fit is not None:
                cmd += ["--fit", repr(args.fit)]
        if args.evade:
            cmd.append("--evade")
        audit = None
        if args.audit and args.cutcomp:
            cmd += ["--json", os.path.join(scratch, row["file"] + ".json")]
            audit = [args.audit, repr(tol)]
        jobs.append((cmd + extra, row, audit))

    total = collections.Counter()
    done = collections.Counter()
    reasons = collections.Counter()
    failed = []
    worst = 0.0
    beyond = beyond_joint = 0
    pieces = chords = 0
    audited = gouged = gouged_joint = closing = 0
    deepest = 0.0
    audit_failures = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for row, code, reason, out in pool.map(run_one, jobs):
            keys = ["all", "shape " + row["shape"], "chord " + chord_bin(float(row["chord"])),
                    "decimals " + row["decimals"], "side " + row["side"]]
            for k in keys:
                total[k] += 1
                done[k] += code == 0
            if code != 0:
                reasons[reason or "exit %d" % code] += 1
                failed.append(row["file"])
            a = re.search(r"gouges (\d+) beyond_joint (\d+) deepest (\S+) closing (\d+)", out)
            if a and code == 0:
                audited += 1
                gouged += int(a.group(1)) > 0
                gouged_joint += int(a.group(2)) > 0
                deepest = max(deepest, float(a.group(3)))
                closing += int(a.group(4)) > 0
            elif args.audit and code == 0:
                audit_failures.append(row["file"])
            m = re.search(r"gouge (\S+) standoff \S+ pieces (\d+) chords (\d+)", out)
            if m and code == 0:
                gouge, radius = float(m.group(1)), float(row["radius"])
                worst = max(worst, gouge / radius)
                beyond += gouge > tol + 1e-9
                beyond_joint += gouge > tol + JOINT * radius
                pieces += int(m.group(2))
                chords += int(m.group(3))
    for k in sorted(total, key=lambda k: (k != "all", k)):
        print("%-28s %5d / %5d  %6.2f %%" % (k, done[k], total[k], 100.0 * done[k] / total[k]))
    if args.driver and chords:
        print("completed paths: %d chords became %d pieces; largest gouge %.4f r; closer to the chords"
              " than r - %g: %d, than r - %g - %g r: %d"
              % (chords, pieces, worst, tol, beyond, tol, JOINT, beyond_joint))
    if args.audit:
        print("audited %d completed paths against the chords: %d come nearer than r - %g, %d nearer"
              " than r - %g - 0.0019 r; deepest %.4g beyond the tolerance; %d only where a closed"
              " contour closes; audit failed on %d"
              % (audited, gouged, tol, gouged_joint, tol, deepest, closing, len(audit_failures)))
        os.rmdir(scratch)
    for reason, n in reasons.most_common(8):
        print("  refused %4d: %s" % (n, reason))
    if args.failures:
        with open(args.failures, "w") as f:
            f.write("\n".join(failed) + "\n")


if __name__ == "__main__":
    main()
