#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The HTML report in a real browser (headless chromium): a complete run and a refused one are
loaded from files; the page, written alone, must run without a console message, draw one piece
per record of the JSON report, list the error, and show a block's text when a piece is pointed at. The
complete run's drawing is compared with a kept reference picture.

usage: html_report_test.py CUTCOMP EXAMPLES REFERENCE.png [--update]
Exit 77 (skipped) without chromium or python3-pil."""
import html
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# Points at the first piece and clicks the first listed problem, as a reader would, and keeps
# what the page then shows in attributes of the document.
POKE = """<script>
const piece = document.querySelector(".piece .hit");
piece.dispatchEvent(new PointerEvent("pointerover", { bubbles: true }));
const root = document.documentElement;
root.setAttribute("data-hover", document.getElementById("info").textContent);
const problem = document.querySelector("#problems li");
root.setAttribute("data-first-problem", problem.className + ": " + problem.textContent);
problem.dispatchEvent(new MouseEvent("click", { bubbles: true }));
root.setAttribute("data-click", document.getElementById("info").textContent);
</script></body>"""
SIZE = (1000, 700)
DRAWING = (0, 34, 660, 700)  # the drawing's area in the page: below the header, left of the panel
THUMBNAIL = (132, 133)
# Mean difference from the reference per colour channel, out of 255: the same browser draws the
# same page identically (0.00); a tool path drawn 1 px thinner differs by 0.76, arcs drawn
# bulging the wrong way by 0.67, no tool path at all by 1.58.
TOLERANCE = 0.5


def main():
    exe, examples, reference = sys.argv[1:4]
    browser = shutil.which("chromium")
    try:
        from PIL import Image, ImageChops, ImageStat
    except ImportError:
        Image = None
    if browser is None or Image is None:
        print("skipped: needs the Debian packages chromium and python3-pil")
        return 77
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory() as tmp:
        def chromium(page, *args):
            run = subprocess.run([browser, "--headless", "--disable-gpu", "--no-sandbox",
                                  "--hide-scrollbars", "--enable-logging=stderr", "--v=0",
                                  f"--user-data-dir={tmp}/profile", *args, "file://" + page],
                                 capture_output=True, text=True, timeout=120, check=False)
            console = [line for line in run.stderr.splitlines() if ":CONSOLE" in line]
            check(run.returncode == 0 and not console, f"{page}: {run.returncode} {console}")
            return run.stdout

        for example, status in (("bracket", 0), ("slot_too_narrow", 1)):
            page, record = f"{tmp}/{example}.html", f"{tmp}/{example}.json"
            program = f"{examples}/{example}.ngc"
            # The page is written alone: it draws the path without another report beside it.
            for report in (["--html", page], ["--json", record]):
                run = subprocess.run([exe, program, "--tool-table", f"{examples}/tools.tbl",
                                      "-o", os.devnull] + report, check=False,
                                     stderr=subprocess.DEVNULL)
                check(run.returncode == status, f"{example}: exit {run.returncode}")
            with open(record, encoding="utf-8") as f:
                record = json.load(f)
            with open(page, encoding="utf-8") as f:
                poked = f.read().replace("</body>", POKE)
            with open(f"{tmp}/poked.html", "w", encoding="utf-8") as f:
                f.write(poked)
            dom = chromium(f"{tmp}/poked.html", "--dump-dom")
            root = re.search(r"<html([^>]*)>", dom)
            seen = {k: html.unescape(v) for k, v in re.findall(r'([\w-]+)="([^"]*)"',
                                                                 root.group(1) if root else "")}
            check("data-errors" not in seen, f"{example}: script errors {seen.get('data-errors')}")
            check(seen.get("data-pieces") == str(len(record["segments"])),
                  f"{example}: {seen.get('data-pieces')} pieces drawn, "
                  f"{len(record['segments'])} recorded")
            with open(program, encoding="utf-8") as f:
                lines = f.read().splitlines()
            first = lines[record["segments"][0]["line"] - 1]
            check(first in seen.get("data-hover", ""), f"{example}: hover shows {seen}")
            error = record["error"]
            listed = f"error: line {error['line']}: {error['message']}" if error else ": none"
            check(seen.get("data-first-problem") == listed, f"{example}: {seen}")
            if error:
                check(lines[error["line"] - 1] in seen.get("data-click", ""),
                      f"{example}: the failing block is not shown: {seen}")
            if status == 0:
                chromium(page, f"--window-size={SIZE[0]},{SIZE[1]}", f"--screenshot={tmp}/s.png")
                drawing = Image.open(f"{tmp}/s.png").convert("RGB").crop(DRAWING)
                inked = sum(drawing.convert("L").histogram()[:200]) / (drawing.width *
                                                                      drawing.height)
                check(inked > 0.01, f"the drawing is blank ({inked:.4f} of it inked)")
                thumbnail = drawing.resize(THUMBNAIL, Image.BOX)
                if "--update" in sys.argv:
                    thumbnail.save(reference)
                difference = sum(ImageStat.Stat(ImageChops.difference(
                    thumbnail, Image.open(reference).convert("RGB"))).mean) / 3
                print(f"{example}: {inked:.4f} of the drawing inked, {difference:.2f} from the "
                      "reference")
                check(difference < TOLERANCE, f"the drawing differs from {reference} by "
                      f"{difference:.2f} (rerun with --update if the new one is right)")
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
