// SPDX-License-Identifier: MIT
// The run: one pass over the program, streaming it through the engine; the outputs are staged
// (outputs.h), so that an input error found half-way, or a gouge, still writes nothing. The driver
// reads the blocks (reading.h), hands each compensation run to the engine's host, and gives every
// block and every final piece to the written path (written_path.h), which turns them into the
// lines every writer takes. Inside a run the blocks wait in the run's order (run_order.h) until
// the engine has made the segments before them final. Around it: what the tool says
// (messages.h), which block a refusal is about (failure.h), the gouge audit (audit_stage.h) and
// the gouge-free path (avoid_stage.h).
#include <memory>
#include <optional>
#include <utility>

#include "audit_stage.h"
#include "avoid_stage.h"
#include "failure.h"
#include "fit_stage.h"
#include "list_host.h"
#include "messages.h"
#include "node_pool.h"
#include "outputs.h"
#include "pipeline.h"
#include "reading.h"
#include "run_order.h"
#include "run_source.h"
#include "written_path.h"

namespace cutcomp::cli {

namespace {

class Driver {
public:
  Driver(const Program& program, const Options& options, const Capture& capture, Result& result)
      : m_Options(options),
        m_Result(result),
        m_Messages(result, capture, program.name == "-" ? "<stdin>" : program.name),
        m_Reading(program, options, m_Messages),
        m_Outputs(options, capture, m_Messages, result),
        m_Path(options, m_Outputs, m_Messages, m_Reading) {
    if (options.avoid) {
      m_Avoid.emplace(options, m_Path, m_Messages, m_Reading, result);
    }
  }
  void Run();

private:
  // One compensation run, from its first block to the block that ends it; false when it failed
  // (the result says why).
  bool Compensate(cli::Block first);
  void InputFailed(const InputError& error);
  void WarnUnchecked();

  const Options& m_Options;
  Result& m_Result;
  Messages m_Messages;
  Reading m_Reading;
  Outputs m_Outputs;
  NodePool m_Nodes;  // the engine's segments, one run after another
  // Every block and piece into written lines, and where the written program has the tool.
  WrittenPath m_Path;
  std::optional<AuditStage> m_Audit;  // none with --no-verify
  std::optional<AvoidStage> m_Avoid;  // --avoid only
};

// Evasion leaves segments out of the path where the cutter does not fit them, and joins their
// neighbours' offsets past them: on posted curves that can cut into the part. The gouge audit
// finds that; without it the user is told the path is not checked.
void Driver::WarnUnchecked() {
  if (m_Options.evade && !m_Options.verify) {
    m_Messages.RunWarning(
        "--evade with --no-verify: the tool path is not checked for gouges; "
        "segments left out can let the cutter cut into the part",
        true);
  }
}

bool Driver::Compensate(cli::Block first) {
  WrittenMachine& machine = m_Path.Machine();
  machine.NoteFrame(first);
  if (m_Audit) {
    m_Audit->BeginRun(first, machine.Frame());
  }
  if (m_Avoid) {
    m_Avoid->BeginRun(first, machine.Frame());
  }
  RunOrder order(m_Path);
  const double radius = first.compRadius;
  // The run's plane moves go through the fit stage, which hands on a segment once it knows what
  // the segment stands for: a move as programmed, or a piece fitted to a run of chords (then
  // only when the run ends, or holds as many chords as the fitter keeps).
  FitStage stage(m_Options.fit ? std::optional<FitOptions>(
                                     RunFitOptions(first.modal.units, m_Options.fitTolerance))
                               : std::nullopt,
                 m_Options.locateRapids, m_Nodes);
  RunSource source(std::move(first), m_Reading, order, stage, m_Audit ? &*m_Audit : nullptr);

  crc::CCutterCompensator engine(radius, nullptr, m_Options.lookBehind, m_Options.start);
  engine.SetInterveneEvade(m_Options.evade);
  // Posted curves: short chords rounded to a few decimals have nearly parallel offsets and
  // tiny backward kinks that the plain interference test takes for overlaps. The tolerant test
  // lets them through; the gouge audit still measures the finished path.
  engine.SetCamTolerance(m_Options.camTolerance);
  // Outlines closed and run on, laps, leads inside the run: where the tool comes back to where
  // it has been, beside lead-ins and run-ons in the air, the offsets meet without interference.
  engine.SetClosureTolerance(m_Options.closureTolerance);
  engine.SetStartInPlace(m_Options.startInPlace);
  engine.SetArcStartup(m_Options.arcStartup);
  engine.SetCrcPreRetractOption(static_cast<int>(m_Options.end));
  ListHost host([this, &source, &order](std::unique_ptr<crc::CCrcNode>& node, std::int64_t& id) {
    if (!source.Pull(node, id)) {
      return false;
    }
    if (m_Avoid) {
      m_Avoid->NoteWall(order, *node, id);
    }
    return true;
  });
  host.UsePool(&m_Nodes);
  HostFailure failure;
  // With --avoid the engine's pieces are held until the run is judged: written as they are, or
  // replaced by the gouge-free path.
  const bool ok = host.Run(
      engine,
      [this, &order](HostSegment& segment) {
        if (m_Avoid) {
          m_Avoid->Hold(segment);
        } else {
          order.Final(segment);
        }
      },
      &failure);
  const bool avoided = m_Avoid && m_Avoid->EndRun(order, ok, source, m_Nodes);
  if (source.Error()) {
    order.WriteBefore(order.NextId());
    InputFailed(*source.Error());
    return false;
  }
  if (!ok && !avoided) {
    order.WriteBefore(failure.id);
    m_Result.error =
        AttributeFailure(failure, host, order, radius, m_Options.verbose, m_Reading, m_Messages);
    m_Result.status = Status::COMPENSATION_FAILED;
    return false;
  }
  order.Flush();
  if (m_Audit) {
    m_Audit->EndRun(order.NextId());
  }
  return true;
}

void Driver::Run() {
  if (!m_Reading.Open(m_Result.error)) {
    m_Result.status = Status::BAD_INPUT;
    return;  // nothing opened is written
  }
  // A file's dialect is known once it is opened (standard input is spooled to one).
  const language::LanguageSource* program = m_Reading.Language();
  const bool pointWholeLengths =
      program != nullptr && program->ChosenDialect().dialect != language::Dialect::NGC;
  if (!m_Outputs.Open(m_Result.error, pointWholeLengths,
                      [this](const SourceBlock& source) { return m_Reading.Place(source); })) {
    m_Result.status = Status::BAD_INPUT;
    return;
  }
  WarnUnchecked();
  if (m_Options.verify) {
    m_Audit.emplace(m_Options, m_Messages, m_Reading);
    m_Path.Audit(&*m_Audit);
  }
  // One pass: the program is read, executed and compensated as it streams. An input error
  // found half-way throws the staged outputs away, so that it still writes nothing.
  cli::Block block;
  try {
    while (m_Reading.Next(block)) {
      if (block.phase == crc::CRC_STATUS_ESTABLISH) {
        if (!Compensate(std::move(block))) {
          m_Outputs.Finish(m_Result);
          return;
        }
        continue;
      }
      m_Path.Passthrough(block);
    }
  } catch (const InputError& error) {
    InputFailed(error);
    m_Outputs.Finish(m_Result);
    return;
  }
  if (m_Audit) {
    m_Result.status =
        m_Audit->Run(m_Path.Machine().PlungeTop(), m_Outputs.WantsOpenStretches(), m_Result);
  }
  if (m_Result.status == Status::OK && !m_Result.left.empty()) {
    m_Result.status = Status::MATERIAL_LEFT;
  }
  m_Outputs.Finish(m_Result);
}

void Driver::InputFailed(const InputError& error) {
  m_Result.error = m_Reading.Record(error);
  m_Messages.Error(m_Result.error->place, m_Result.error->message);
  m_Result.status = Status::BAD_INPUT;
}

}  // namespace

Result Run(const Program& program, const Options& options, const Capture& capture) {
  Result result;
  Driver driver(program, options, capture, result);
  driver.Run();
  return result;
}

}  // namespace cutcomp::cli
