# SPDX-License-Identifier: MIT
"""The Python module: compensate() against the whole-contour fixtures (hand-derived tool paths)
and against the command-line tool's pipeline, audit() of its own and of foreign tool paths, a
translator written in Python driving the engine, and what must not crash."""
import ast
import glob
import inspect
import json
import math
import os
import unittest
import warnings

import cutcomp

NAMES = {n: getattr(math, n) for n in ("pi", "sqrt", "sin", "cos", "tan", "asin", "acos", "atan")}
NAMES["unset"] = cutcomp.INVALID_VALUE
PHASES = {"S": "establish", "D": "doing", "R": "retract"}
SIDES = {"L": "left", "R": "right", "none": cutcomp.Side.NONE}
ENDS = ["line", "retract", "none"]


def num(v):
    return float(eval(v, {"__builtins__": {}}, NAMES)) if isinstance(v, str) else float(v)


def pt(p):
    return (num(p[0]), num(p[1]))


def segment(item):
    phase, side = PHASES[item["phase"]], SIDES[item["side"]]
    if "line" in item:
        return ("line", pt(item["line"][0]), pt(item["line"][1]),
                {"phase": phase, "side": side, "locate": item.get("locate", False)})
    arc = item["arc"]
    if "sweep" in arc:  # a full circle: only the angle form can say so
        return cutcomp.Arc(pt(arc["centre"]), num(arc["startAngle"]), num(arc["sweep"]),
                           num(arc["radius"]), arc["sense"] == "ccw", cutcomp._PHASES[phase],
                           cutcomp._SIDES.get(side, side))
    return ("arc", pt(arc["from"]), pt(arc["to"]), pt(arc["centre"]), arc["sense"] == "ccw",
            {"phase": phase, "side": side})


class Fixtures(unittest.TestCase):
    def assert_path(self, got, expected, tol):
        expected = [e for e in expected if not e.get("dropped")]
        self.assertEqual(len(got), len(expected), got)
        for (piece, _, inserted), e in zip(got, expected):
            kind = "arc" if "arc" in e else "line"
            self.assertEqual(piece[0], kind, piece)
            for a, b in zip(piece[1:3], map(pt, e[kind])):
                self.assertTrue(math.dist(a, b) < tol * 2, (piece, e))
            self.assertEqual(inserted, e.get("inserted", False))
            if "centre" in e:
                self.assertTrue(math.dist(piece[3], pt(e["centre"])) < tol * 2, (piece, e))
            if "sense" in e:
                self.assertEqual(piece[4], e["sense"] == "ccw")

    def test_every_scenario_fixture(self):
        folder = os.environ["CUTCOMP_SCENARIO_FIXTURES"]
        for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
            with self.subTest(os.path.basename(path)), open(path) as f:
                case = json.load(f)
                s = case["settings"]
                if s.get("established"):
                    continue  # a run that an earlier one established: not a compensate() call
                if sum(i.get("phase") == "S" for i in case["segments"]) > 1:
                    continue  # compensate() gives each run an engine of its own, as the tool does
                if any(s.get(k) for k in ("closureTolerance", "startInPlace",
                                          "arcStartup")):
                    continue  # an engine extension compensate() does not switch on
                # The fixtures hold the engine's own settings: no fitting, the plain tests.
                args = dict(segments=[segment(i) for i in case["segments"]],
                            radius=num(s["radius"]), start=s.get("strategy", "normal"),
                            evade=s.get("evade", False), look_behind=s.get("lookBehind", 3),
                            end=ENDS[s.get("preRetract", 0)], with_blocks=True, fit=False,
                            strict_interference=True, strict_startup=True)
                if args["start"] not in ("normal", "intersect", "insert"):
                    with self.assertRaisesRegex(ValueError, "strategy"):
                        cutcomp.compensate(**args)
                    continue
                tol = s.get("tolerance", 1e-6)
                failure = case["expect"].get("failure")
                if failure is None:
                    self.assert_path(cutcomp.compensate(**args), case["expect"]["path"], tol)
                    continue
                with self.assertRaises(cutcomp.CompensationError) as raised:
                    cutcomp.compensate(**args)
                error = raised.exception
                self.assertEqual((error.code, error.block), (failure["message"], failure["segment"]))
                if error.code:  # a silent failure has neither gloss nor message
                    self.assertEqual(error.gloss, cutcomp.error_gloss(error.code))
                    self.assertTrue(error.message)
                if "path" in failure:
                    self.assert_path(error.path, failure["path"], tol)


SQUARE = [("line", (0, -5), (0, 0)), ("line", (0, 0), (10, 0)), ("arc", (10, 0), (20, 10), (10, 10), True),
          ("line", (20, 10), (20, 20)), ("line", (20, 20), (0, 20)), ("line", (0, 20), (-5, 25))]


class ListTranslator(cutcomp.Translator):
    """The segments in a Python list; fresh=True hands the engine a new copy of each successor
    and keeps nothing, so only the bindings keep it alive while the engine writes into it."""

    def __init__(self, nodes, fresh=False):
        super().__init__()
        self.nodes, self.fresh = nodes, fresh

    def get_next_node(self, node):
        i = next(i for i, n in enumerate(self.nodes) if n is node) + 1
        return None if i == len(self.nodes) else self.nodes[i].clone() if self.fresh else self.nodes[i]

    def InsertNode(self, anchor, line, before):
        self.nodes.insert(self.nodes.index(anchor) + (0 if before else 1), line)

    def set_crc_end_point(self, x, y):
        pass

    def crc_finish(self):
        pass


class OneCall(unittest.TestCase):
    @unittest.skipUnless(hasattr(cutcomp, "_run_gcode"), "built without the command-line tool")
    def test_defaults_are_the_command_line_tools(self):
        # A lead-in, a quarter circle of radius 10 posted as 60 chords (fitted by default) and a
        # line, with no cancel move (by default the last move ends the run beside the contour):
        # the tool's pipeline and compensate() give the same pieces, to the last bit.
        arc = [(10 * math.sin(math.pi / 2 * k / 60), 10 - 10 * math.cos(math.pi / 2 * k / 60))
               for k in range(61)]
        points = [(-10.0, 0.0)] + [(float(f"{x:.12f}"), float(f"{y:.12f}")) for x, y in arc]
        points.append((10.0, 20.0))
        program = "G21 G17 G90\nG0 X-10 Y0\nG41.1 D4 G1 X0 Y0 F100\n" + "".join(
            f"X{x!r} Y{y!r}\n" for x, y in points[2:]) + "M2\n"
        _, record = cutcomp.compensate_gcode(program)
        want = [(tuple(r["tool"]["start"]), tuple(r["tool"]["end"])) for r in record]
        segments = [("line", a, b, {"phase": "doing"}) for a, b in zip(points, points[1:])]
        segments[0] = segments[0][:3]
        got = [(piece[1], piece[2]) for piece in cutcomp.compensate(segments, 2.0)]
        self.assertEqual(len(want), 3)
        self.assertEqual(got, want)

    @unittest.skipUnless(hasattr(cutcomp, "_run_gcode"), "built without the command-line tool")
    def test_avoid_leaves_the_notch_and_the_tool_cuts_the_same_path(self):
        # A 40 x 30 block cut from outside by a 6 mm cutter, a 4 mm notch in its top edge.
        corners = [(-10, -10), (0, 0), (0, 30), (18, 30), (18, 20), (22, 20), (22, 30), (40, 30),
                   (40, 0), (0, 0), (-10, -10)]
        segments = [("line", a, b) for a, b in zip(corners, corners[1:])]
        with self.assertRaises(cutcomp.CompensationError):
            cutcomp.compensate(segments, 3.0)
        path, [left], [run] = cutcomp.compensate(segments, 3.0, avoid=True)
        self.assertEqual((left["first_id"], left["last_id"], left["cause"]), (3, 5, "narrow"))
        self.assertAlmostEqual(left["depth"], 9.3984, delta=1e-4)
        # the path goes round the notch's corners, one arc of the radius about each
        self.assertEqual([path[left["before"]][3], path[left["after"]][3]], [(18, 30), (22, 30)])
        self.assertEqual((run["engine_code"], run["written"]), (12, True))
        # without the notch the engine's own path, nothing left, no run taken up
        block = corners[:3] + corners[7:]
        plain = [("line", a, b) for a, b in zip(block, block[1:])]
        self.assertEqual(cutcomp.compensate(plain, 3.0, avoid=True),
                         (cutcomp.compensate(plain, 3.0), [], []))
        program = "G21 G17 G90\nG0 X-10 Y-10\nG41 G1 X0 Y0 F300\n" + "".join(
            f"G1 X{x} Y{y}\n" for x, y in corners[2:-1]) + "G40 G1 X-10 Y-10\nM2\n"
        with warnings.catch_warnings(record=True) as said:
            warnings.simplefilter("always")
            _, record = cutcomp.compensate_gcode(program, radius=3, avoid=True)
        self.assertEqual([str(w.message) for w in said], [
            "<string>:6: warning: 9.40 mm left on blocks 6-8: the cutter does not fit between "
            "the walls"])
        written = [r["tool"] for r in record if r["tool"]]
        self.assertEqual(len(written), len(path))
        for piece, move in zip(path, written):
            for a, b in zip(piece[1] + piece[2], move["start"] + move["end"]):
                self.assertAlmostEqual(a, b, delta=1e-3)

    def test_audit_of_its_own_and_of_a_foreign_path(self):
        square = [("line", (-5, 0), (0, 0)), ("line", (0, 0), (10, 0)), ("line", (10, 0), (10, 10)),
                  ("line", (10, 10), (10, 15))]
        path = cutcomp.compensate(square, 1.0, with_blocks=True)
        self.assertEqual(cutcomp.audit(square, path, 1.0), [])
        # Another offsetter's path, whose second piece ends 0.6 from the wall along y = 0.
        foreign = [(("line", (-5, 0), (0, 1)), 0), (("line", (0, 1), (9, 0.6)), 1),
                   (("line", (9, 1), (9, 10)), 2)]
        [gouge] = cutcomp.audit(square, foreign, 1.0)
        self.assertEqual((gouge.piece, gouge.block, gouge.segment), (1, 1, 1))
        self.assertAlmostEqual(gouge.depth, 0.4, delta=1e-12)
        self.assertEqual(gouge.wall_point, (9.0, 0.0))
        with self.assertRaisesRegex(ValueError, "radius"):
            cutcomp.audit(square, foreign, 0.0)
        with self.assertRaisesRegex(ValueError, "piece 1"):
            cutcomp.audit(square, [foreign[0], ("line", (0, 1))], 1.0)


class Stubs(unittest.TestCase):
    def test_the_stubs_name_everything_with_the_modules_signatures(self):
        with open(os.path.join(os.path.dirname(cutcomp.__file__), "__init__.pyi")) as f:
            tree = ast.parse(f.read())
        names, functions = set(), {}
        for node in tree.body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                names.add(node.name)
                functions[node.name] = node
            elif isinstance(node, ast.Assign):
                names.update(t.id for t in node.targets if isinstance(t, ast.Name))
            elif isinstance(node, ast.AnnAssign):
                names.add(node.target.id)
        self.assertEqual({n for n in dir(cutcomp) if not n.startswith("_")} - names, set())
        for name in ("compensate", "audit", "compensate_gcode"):
            args = functions[name].args
            defaults = [None] * (len(args.args) - len(args.defaults)) + args.defaults
            stub = [(a.arg, d and ast.literal_eval(d)) for a, d in
                    zip(args.args + args.kwonlyargs, defaults + args.kw_defaults)]
            actual = [(p.name, None if p.default is p.empty else p.default)
                      for p in inspect.signature(getattr(cutcomp, name)).parameters.values()]
            self.assertEqual(stub, actual, name)


class Engine(unittest.TestCase):
    def nodes(self):
        return [cutcomp._node(s, i, len(SQUARE), "left") for i, s in enumerate(SQUARE)]

    def test_python_translator_gives_the_path_of_compensate(self):
        host = ListTranslator(self.nodes())
        engine = cutcomp.Compensator(2.0, host, look_behind=3, strategy=cutcomp.Strategy.INSERT)
        i = 0
        while i < len(host.nodes):
            self.assertTrue(engine.adjust_node(host.nodes[i]), engine.latest_error)
            i += 1
        got = [(n.start, n.end) if n.kind == cutcomp.Kind.LINE and n.start_moved is None
               else (n.start_moved, n.end_moved) for n in host.nodes]
        want = [p[1:3] for p in cutcomp.compensate(SQUARE, 2.0, start="insert")]
        self.assertEqual(len(got), len(want))
        for g, w in zip(got, want):
            self.assertLess(math.dist(g[0], w[0]) + math.dist(g[1], w[1]), 1e-9, (got, want))

    def test_what_a_translator_does_wrong_is_raised_not_crashed(self):
        host = ListTranslator(self.nodes(), fresh=True)
        engine = cutcomp.Compensator(2.0, host)
        for node in host.nodes[:3]:  # successors are temporaries only the bindings hold
            engine.adjust_node(node)
        host.get_next_node = lambda node: engine.adjust_node(node)  # re-entry
        with self.assertRaisesRegex(RuntimeError, "callback may not call"):
            engine.adjust_node(host.nodes[3])
        host.get_next_node = lambda node: "not a segment"
        with self.assertRaises(RuntimeError):
            engine.adjust_node(host.nodes[4])
        host = ListTranslator(self.nodes())  # a raise inside the engine: its state holds
        host.InsertNode = lambda anchor, line, before: {}[anchor]
        engine = cutcomp.Compensator(-2.0, host, strategy=cutcomp.Strategy.INSERT)
        with self.assertRaises(KeyError):
            engine.adjust_node(host.nodes[0])
        self.assertEqual((engine.radius, host.nodes[0].side), (-2.0, cutcomp.Side.LEFT))
        with self.assertRaisesRegex(TypeError, "neither GetNextNode nor get_next_node"):
            cutcomp.Compensator(1.0, cutcomp.Translator()).adjust_node(cutcomp.Line((0, 0), (1, 0)))

    def test_extensions_switched_on_through_the_properties(self):
        # The fixtures that turn on an extension compensate() has no switch for, run through a
        # Compensator with its property set: each passes, or is refused at its segment, as there.
        properties = {"closureTolerance": "closure_tolerance", "startInPlace": "start_in_place",
                      "arcStartup": "arc_startup"}
        folder = os.environ["CUTCOMP_SCENARIO_FIXTURES"]
        ran = 0
        for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
            with open(path) as f:
                case = json.load(f)
            s = case["settings"]
            if not any(s.get(k) for k in properties) or s.get("camTolerance"):
                continue
            if s.get("strategy", "normal") not in cutcomp._STRATEGIES:
                continue  # a strategy outside the enum, which the bindings do not pass
            with self.subTest(os.path.basename(path)):
                programmed = [cutcomp._node(segment(item), i, len(case["segments"]), "left")
                              for i, item in enumerate(case["segments"])]
                host = ListTranslator(list(programmed))
                strategy = cutcomp._STRATEGIES[s.get("strategy", "normal")]
                engine = cutcomp.Compensator(num(s["radius"]), host, strategy=strategy,
                                             look_behind=s.get("lookBehind", 3))
                for key, name in properties.items():
                    setattr(engine, name, bool(s.get(key)))
                refused, i = None, 0
                while i < len(host.nodes) and refused is None:
                    if not engine.adjust_node(host.nodes[i]):
                        refused = programmed.index(host.nodes[i])
                    i += 1
                failure = case["expect"].get("failure")
                self.assertEqual(refused, failure["segment"] if failure else None)
                ran += 1
        self.assertGreater(ran, 0)

    def test_one_run_by_default_refusal_and_input_errors(self):
        path = cutcomp.compensate([("line", (0, -5), (0, 0)), ("line", (0, 0), (10, 0)),
                                   ("line", (10, 0), (10, 5))], 1.0, side="right")
        want = [(0, -5), (0, -1), (0, -1), (10, -1), (10, -1), (10, 5)]
        got = [p for piece in path for p in piece[1:3]]
        self.assertEqual(len(got), len(want))
        self.assertLess(max(map(math.dist, got, want)), 1e-9)
        slot = [("line", (0, -5), (0, 0)), ("line", (0, 0), (10, 0)), ("line", (10, 0), (10, 1)),
                ("line", (10, 1), (0, 1)), ("line", (0, 1), (-5, 1))]
        with self.assertRaises(cutcomp.CompensationError) as raised:
            cutcomp.compensate(slot, 2.0)
        self.assertIn(cutcomp.error_gloss(raised.exception.code), str(raised.exception))
        self.assertEqual(cutcomp.compensate(slot, 0.0), slot)
        with self.assertRaisesRegex(ValueError, "segment 1"):
            cutcomp.compensate([slot[0], ("line", (0, 0))], 1.0)


if __name__ == "__main__":
    unittest.main()
