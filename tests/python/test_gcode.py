# SPDX-License-Identifier: MIT
"""compensate_gcode: a program through the command-line tool's pipeline, from memory."""
import ast
import inspect
import os
import unittest
import warnings

import cutcomp

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
TOOLS = {1: 6.0, 2: 4.0, 3: 10.0}


def example(name):
    with open(os.path.join(EXAMPLES, name), encoding="utf-8") as f:
        return f.read()


@unittest.skipUnless(hasattr(cutcomp, "_run_gcode"), "built without the command-line tool")
class CompensateGcode(unittest.TestCase):
    def test_the_compensated_program_round_trips(self):
        # Written without compensation words, the program passes through unchanged, and its
        # moves are the tool path the record gave (to the written precision).
        program, record = cutcomp.compensate_gcode(example("bracket.ngc"), tool_table=TOOLS,
                                                   start="insert")
        again, moves = cutcomp.compensate_gcode(program)
        self.assertEqual(again, program)
        tool = [r["tool"] for r in record if r["tool"]]
        self.assertEqual(len(moves), len(tool))
        for move, piece in zip(moves, tool):
            self.assertEqual(move["phase"], "none")
            for key in ("start", "end"):
                for a, b in zip(move["programmed"][key], piece[key]):
                    self.assertAlmostEqual(a, b, delta=6e-4)

    def test_refusals_and_input_errors_name_the_line(self):
        with self.assertRaises(cutcomp.CompensationError) as refused:
            cutcomp.compensate_gcode(example("slot_too_narrow.ngc"), tool_table=TOOLS,
                                     name="slot.ngc")
        e = refused.exception
        self.assertEqual((e.file, e.block, e.code), ("slot.ngc", 11, 5))
        self.assertTrue(str(e).startswith("slot.ngc:11: "))
        self.assertTrue(e.program.endswith("G1 X20 Y11 F300\n"))  # up to the refused block
        self.assertEqual(len(e.path), 1)
        for text, line, col, message in (
                ("G21 G17\nG1 X1 Y1\nG1 X[1/0]\n", 3, 7, "division by zero"),
                ("G1 X1\nG41 D9 G1 X2\n", 2, None, None)):
            with self.assertRaises(cutcomp.InputError) as bad:
                cutcomp.compensate_gcode(text, tool_table=TOOLS)
            self.assertEqual((bad.exception.file, bad.exception.line), ("<string>", line))
            if col:
                self.assertEqual((bad.exception.col, bad.exception.message), (col, message))
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always")
            cutcomp.compensate_gcode(example("bracket.ngc"), tool_table=TOOLS, evade=True,
                                     verify=False)
        self.assertTrue(any(issubclass(w.category, cutcomp.GcodeWarning) for w in said))
        # A crossing beyond the look-behind list: refused after the audit, or written on request.
        crossing = "G0 X-2 Y1\nG41 G1 X0 Y0 F100\nX10\nY2\nY4\nY6\nX8\nX6\nX5\nY-4\nG40 X8 Y-6\n"
        with warnings.catch_warnings(record=True):
            warnings.simplefilter("always")
            with self.assertRaises(cutcomp.GougeError) as gouge:
                cutcomp.compensate_gcode(crossing, radius=0.5)
            program, _ = cutcomp.compensate_gcode(crossing, radius=0.5, allow_gouge=True)
        self.assertEqual([(g["line"], g["against_line"]) for g in gouge.exception.gouges],
                         [(3, 10), (10, 3)])
        self.assertTrue(program.endswith("G1 X5.5 Y-4\nG1 X8 Y-6\n"))

    def test_keywords_and_defaults_are_the_tools(self):
        # The tool's option table names every keyword but the program's own; each default is
        # the tool's, and the defaults make no argument at all.
        rows = [row for row in cutcomp._gcode_options() if row[1]]
        parameters = inspect.signature(cutcomp.compensate_gcode).parameters
        self.assertEqual(set(parameters) - {"text", "name"}, {keyword for _, keyword, _, _ in rows})
        defaults = {}
        for flag, keyword, _, default in rows:
            self.assertEqual(parameters[keyword].default, ast.literal_eval(default), flag)
            defaults[keyword] = ast.literal_eval(default)
        self.assertEqual(cutcomp._arguments(defaults), ["--verbose"])
        arguments = cutcomp._arguments({"radius": -1.5, "fit": False, "end": "line",
                                        "stock_top": 2.0, "verify": False})
        self.assertEqual(arguments, ["--verbose", "--radius=-1.5", "--no-fit", "--end=line",
                                     "--stock-top=2.0", "--no-verify"])


if __name__ == "__main__":
    unittest.main()
