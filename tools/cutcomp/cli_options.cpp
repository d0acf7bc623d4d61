// SPDX-License-Identifier: MIT
// The command line's options and the keywords the Python module gives them.
#include "cli_options.h"

#include <cmath>
#include <cstdlib>
#include <map>

#include <CLI/CLI.hpp>

namespace cutcomp::cli {

void DefineOptions(CLI::App& app, CommandLine& line) {
  app.name("cutcomp");
  app.description(
      "Cutter radius compensation for G-code part programs: reads a program written "
      "with G41/G42/G40 and writes the tool-centre program for a controller without "
      "compensation. Lengths on the command line and in the tool table are in the program's "
      "units (G20: inches, G21: millimetres).");
  app.add_option("INPUT", line.program.name,
                 "part program (RS274/NGC G-code, with parameters, expressions and O-word "
                 "subroutines and loops); '-' or none: standard input")
      ->type_name("FILE");
  app.add_option("-o,--output", line.options.output,
                 "compensated program (default: standard output)")
      ->type_name("FILE");
  app.add_option("--svg", line.options.svg,
                 "write a picture of the programmed and tool-centre paths")
      ->type_name("FILE");
  app.add_option("--json", line.options.json,
                 "write every segment, programmed and compensated, as JSON")
      ->type_name("FILE");
  app.add_option("--html", line.options.html,
                 "write a page to open in a browser: the paths to pan and zoom, the block behind "
                 "every piece, the error and the warnings")
      ->type_name("FILE");
  app.add_option("--tool-table", line.options.toolTable,
                 "tool table with lines 'T<n> P<n> D<diameter>', for G41/G42 D<n>; diameters in "
                 "the program's units unless --tool-units says otherwise")
      ->type_name("FILE");
  const std::map<std::string, cutcomp::cli::Units> units{{"mm", cutcomp::cli::Units::MM},
                                                         {"inch", cutcomp::cli::Units::INCH}};
  app.add_option("--tool-units", line.options.toolUnits,
                 "the unit the tool table is written in, when it is not the program's")
      ->transform(CLI::CheckedTransformer(units, CLI::ignore_case).description(""))
      ->type_name("mm|inch");
  app.add_option("--radius", line.options.radius,
                 "compensation radius for every G41/G42, in the program's units, overriding D "
                 "(negative swaps the sides)")
      ->type_name("R");
  app.add_option("--arc-tolerance", line.options.arcTolerance,
                 "how far the distances from an arc's centre to its two ends may differ, in the "
                 "program's units (default: 0.1% of the radius, at least 0.005 mm or 0.0005 in, "
                 "at most 0.5 mm or 0.05 in); accepted arcs get their centre repaired")
      ->check(CLI::NonNegativeNumber.description(""))
      ->type_name("T");
  const std::map<std::string, crc::crc_t> starts{{"normal", crc::CRC_TYPE_NORMAL},
                                                 {"intersect", crc::CRC_TYPE_INTERSECT},
                                                 {"insert", crc::CRC_TYPE_INSERT}};
  app.add_option("--start", line.options.start,
                 "how compensation starts and ends: normal (straight to/from the point beside the "
                 "contour), intersect (joined like a corner), insert (the move itself offset, a "
                 "radial line added)")
      ->transform(CLI::CheckedTransformer(starts, CLI::ignore_case).description(""))
      ->type_name("normal|intersect|insert")
      ->default_str("normal");
  app.add_option("--look-behind", line.options.lookBehind,
                 "how many finished segments the interference check looks back at (0: no check)")
      ->type_name("N")
      ->default_val(3);
  // A positive finite length, as the fitter needs; CLI11's own range check would print the
  // largest double as its bound.
  const CLI::Validator positive(
      [](std::string& text) {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool ok = end != text.c_str() && *end == '\0' && value > 0.0 && std::isfinite(value);
        return ok ? std::string() : "must be a positive number, not " + text;
      },
      "");
  auto* fit = app.add_option("--fit", line.options.fitTolerance,
                             "fit runs of chords shorter than 0.5 mm (0.0197 in), as CAM systems "
                             "post curves, by lines and arcs within TOL of them before "
                             "compensation, in the program's units (default: 0.005 mm, "
                             "0.0002 in)")
                  ->check(positive)
                  ->type_name("TOL");
  app.add_flag("--no-fit", line.noFit, "compensate every move as programmed, chords included")
      ->excludes(fit);
  app.add_flag("--evade", line.options.evade,
               "drop segments too short for the cutter instead of failing (looks one segment "
               "further ahead); no fix for CAM chords: the gouge audit finds where this cuts "
               "into the part");
  const std::map<std::string, cutcomp::cli::RunEnd> ends{{"line", cutcomp::cli::RunEnd::LINE},
                                                         {"retract", cutcomp::cli::RunEnd::STAY},
                                                         {"none", cutcomp::cli::RunEnd::NONE}};
  app.add_option("--end", line.options.end,
                 "when a run ends without a cancel move (program end, or G40 then no move before "
                 "G28, G53, a work offset...): retract (the tool stays beside the contour where "
                 "the last move left it), line (a closing line back to the programmed end, "
                 "never below the last rapid height), none")
      ->transform(CLI::CheckedTransformer(ends, CLI::ignore_case).description(""))
      ->type_name("retract|line|none")
      ->default_str("retract");
  app.add_flag("--locate-rapids", line.options.locateRapids,
               "G0 moves inside compensation are positioning moves joined to the offset path, "
               "not offset themselves");
  app.add_option("--precision", line.options.precision,
                 "decimals written for lengths (default: 3 in mm, 4 in inches)")
      ->check(CLI::Range(0, 9).description(""))
      ->type_name("N");
  app.add_flag("--verbose", line.options.verbose,
               "give the engine's own message beside the English one in errors");
  app.add_option("--subroutine-path", line.options.subroutinePath,
                 "directories, colon-separated, where o<name> call looks for name.ngc after "
                 "the program's own directory")
      ->type_name("DIRS");
  app.add_option("--max-blocks", line.options.maxBlocks,
                 "lines run or passed over before the program is stopped as a loop that does "
                 "not end (default 100000000)")
      ->check(CLI::PositiveNumber.description(""))
      ->type_name("N");
  const std::map<std::string, language::Dialect> dialects = {
      {"auto", language::Dialect::AUTO},
      {"ngc", language::Dialect::NGC},
      {"fanuc", language::Dialect::FANUC},
      {"haas", language::Dialect::HAAS},
      {"fanuc-lathe", language::Dialect::FANUC_LATHE},
      {"haas-lathe", language::Dialect::HAAS_LATHE}};
  app.add_option("--dialect", line.options.dialect,
                 "the program's language: ngc (LinuxCNC's RS274/NGC), fanuc (Fanuc-family macro "
                 "B, M98/G65 calls), haas (macro B as Haas runs it), or auto: recognised from "
                 "the program; fanuc-lathe and haas-lathe add the lathe's conventions (X a "
                 "diameter, U and W increments, T0101), also recognised from the program unless "
                 "ngc is given")
      ->transform(CLI::CheckedTransformer(dialects, CLI::ignore_case).description(""))
      ->type_name("auto|ngc|fanuc|haas|fanuc-lathe|haas-lathe")
      ->default_str("auto");
  app.add_flag("--block-delete", line.options.blockDelete,
               "the machine's block-delete switch is on: lines starting with '/' are skipped "
               "(without it they run, and are written with their '/')");
  const std::map<std::string, language::IntegerWords> integerWords = {
      {"warn", language::IntegerWords::WARN},
      {"whole", language::IntegerWords::WHOLE},
      {"increment", language::IntegerWords::INCREMENT}};
  app.add_option("--integer-words", line.options.integerWords,
                 "a Fanuc-family coordinate without a decimal point (X100): whole units, or "
                 "the least input increment (0.001 mm, 0.0001 in) as some controls read it; "
                 "warn: whole units, with a warning")
      ->transform(CLI::CheckedTransformer(integerWords, CLI::ignore_case).description(""))
      ->type_name("warn|whole|increment")
      ->default_str("warn");
  app.add_flag("--trace-source", line.options.traceSource,
               "end every written line with a comment naming the source line it comes from "
               "(file:line, and the calls that led there)");
  auto* gougeTolerance =
      app.add_option("--gouge-tolerance", line.options.gougeTolerance,
                     "how much closer than the cutter radius the tool may come to the "
                     "programmed contour before it is a gouge, in the program's units (default: "
                     "0.005 mm, 0.0002 in)")
          ->check(CLI::NonNegativeNumber.description(""))
          ->type_name("TOL");
  auto* stockTop =
      app.add_option("--stock-top", line.options.stockTop,
                     "the height of the top of the work along the axis normal to the plane (Z "
                     "under G17): moves at or above it cut nothing and are not audited (default: "
                     "the highest height from which the program feeds downwards)")
          ->type_name("Z");
  app.add_flag("--strict-interference", line.strictInterference,
               "the engine's plain interference test: nearly parallel offsets of short chords "
               "count as overlapping, any offset that runs backwards is refused, and so is an "
               "offset that meets an earlier one where the path closes on itself or runs over "
               "itself again");
  app.add_flag("--no-verify", line.noVerify,
               "do not audit the tool path for gouges (the audit keeps the program's contour "
               "in memory, about 50 bytes a segment)")
      ->excludes(gougeTolerance)
      ->excludes(stockTop);
  app.add_flag("--allow-gouge", line.options.allowGouge,
               "write the compensated program even when it gouges the contour (exit status 3 "
               "all the same)");
  app.add_flag("--avoid", line.options.avoid,
               "where the cutter does not fit (the engine refuses a run, or the audit finds a "
               "gouge), write a gouge-free path that leaves material there instead; each place "
               "left is a warning (exit status 4)");
  app.add_option("--offset-list", line.options.offsetList,
                 "a lathe's offset list: a header naming the columns (NO, R, T), then one row per "
                 "offset with its nose radius and tip direction, as T0101 selects them")
      ->type_name("FILE");
  app.add_option("--offsets", line.options.offsets,
                 "offset registers as the control's offset page lists them, one per line: "
                 "D<n> <radius> [<wear>] (D07 8.0 -0.02); a D word names a register in the "
                 "Fanuc-family dialects, a tool in RS274/NGC")
      ->type_name("FILE");
  auto* expandCycles = app.add_flag(
      "--expand-cycles", line.options.expandCycles,
      "write a Fanuc-family lathe's roughing cycles G71/G72 outside nose radius compensation as "
      "the moves they make (passes, pre-finishing cut, return), for a control without them");
  app.add_option("--cycle-retract", line.options.cycleRetract,
                 "with --expand-cycles: the lift after each roughing pass where the program does "
                 "not give it (Haas's one-block G71/G72 leaves it to a setting of the control)")
      ->check(CLI::NonNegativeNumber.description(""))
      ->needs(expandCycles)
      ->type_name("E");
}

void Complete(CommandLine& line) {
  line.options.fit = !line.noFit;
  line.options.verify = !line.noVerify;
  line.options.camTolerance = !line.strictInterference;
  line.options.closureTolerance = !line.strictInterference;
  if (line.program.name.empty()) {
    line.program.name = "-";
  }
  if (line.options.output.empty()) {
    line.options.output = "-";
  }
}

std::optional<std::string> ParseArguments(const std::vector<std::string>& args, CommandLine& line) {
  CLI::App app;
  DefineOptions(app, line);
  std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 pops from the back
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return std::string(error.what());
  }
  Complete(line);
  return std::nullopt;
}

const std::vector<OptionKeyword>& OptionKeywords() {
  using K = OptionKeyword;
  static const std::vector<OptionKeyword> table = {
      {"--output", nullptr, K::VALUE, nullptr},
      {"--svg", nullptr, K::VALUE, nullptr},
      {"--json", nullptr, K::VALUE, nullptr},
      {"--html", nullptr, K::VALUE, nullptr},
      {"--tool-table", "tool_table", K::VALUE, "None"},
      {"--tool-units", "tool_units", K::VALUE, "None"},
      {"--radius", "radius", K::VALUE, "None"},
      {"--arc-tolerance", "arc_tolerance", K::VALUE, "None"},
      {"--start", "start", K::VALUE, "'normal'"},
      {"--look-behind", "look_behind", K::VALUE, "3"},
      {"--fit", "fit", K::VALUE, "True"},
      {"--no-fit", "fit", K::NEGATED, "True"},
      {"--evade", "evade", K::FLAG, "False"},
      {"--end", "end", K::VALUE, "'retract'"},
      {"--locate-rapids", "locate_rapids", K::FLAG, "False"},
      {"--precision", "precision", K::VALUE, "None"},
      // The module always gives the engine's own message beside the English one.
      {"--verbose", nullptr, K::FLAG, nullptr},
      {"--subroutine-path", "subroutine_path", K::VALUE, "''"},
      {"--max-blocks", "max_blocks", K::VALUE, "100000000"},
      {"--dialect", "dialect", K::VALUE, "'auto'"},
      {"--block-delete", "block_delete", K::FLAG, "False"},
      {"--integer-words", "integer_words", K::VALUE, "'warn'"},
      {"--trace-source", "trace_source", K::FLAG, "False"},
      {"--gouge-tolerance", "gouge_tolerance", K::VALUE, "None"},
      {"--stock-top", "stock_top", K::VALUE, "None"},
      {"--strict-interference", "strict_interference", K::FLAG, "False"},
      {"--no-verify", "verify", K::NEGATED, "True"},
      {"--allow-gouge", "allow_gouge", K::FLAG, "False"},
      {"--avoid", "avoid", K::FLAG, "False"},
      {"--offset-list", "offset_list", K::VALUE, "None"},
      {"--offsets", "offsets", K::VALUE, "None"},
      {"--expand-cycles", "expand_cycles", K::FLAG, "False"},
      {"--cycle-retract", "cycle_retract", K::VALUE, "None"},
  };
  return table;
}

}  // namespace cutcomp::cli
