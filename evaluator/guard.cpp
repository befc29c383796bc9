// The guard around every evaluation: one at a time in the process, the host's values in and
// out, the floating-point unit reset for the run and restored after it.
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "common/error_codes.h"
#include "evaluator/evaluator.h"
#include "evaluator/math.h"
#include "expression/diagnostics.h"
#include "platform/platform.h"

namespace kalo {
namespace {

// The busy marker: the errorCode of the running evaluation, or null. Taken and released in one
// atomic step each, so two threads can never both pass the gate.
std::atomic<int32_t*> activeErrorCode{nullptr};

// Releases the busy marker on every way out of an evaluation, an exception thrown by a host
// function included.
struct BusyScope {
  BusyScope() = default;
  ~BusyScope() { activeErrorCode.store(nullptr, std::memory_order_release); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// Restores the host's floating-point state on every way out of a run.
class FloatScope {
 public:
  explicit FloatScope(bool x87InRun)
      : saved_(platform::EnterFloatGuard(x87InRun)), x87InRun_(x87InRun) {}
  ~FloatScope() { platform::LeaveFloatGuard(saved_, x87InRun_); }
  FloatScope(const FloatScope&) = delete;
  FloatScope& operator=(const FloatScope&) = delete;

 private:
  platform::FloatState saved_;
  const bool x87InRun_;
};

bool UsesFastForm(const Evaluator& evaluator) {
  return evaluator.fast.usable && evaluator.fastest != Form::INTERPRETER;
}

bool EnterGate(EvalRecord* record) {
  int32_t* idle = nullptr;
  if (activeErrorCode.compare_exchange_strong(idle, &record->errorCode, std::memory_order_acquire))
    return true;
  record->errorCode = ERROR_BUSY;
  return false;
}

// One row whose values are in the register file, in the fastest form that can prove it clean,
// else in the interpreter; the fault, if any, in `record`.
bool RunRow(const Program& program, Evaluator& evaluator, EvalRecord* record) {
  *record = EvalRecord{};
  // On the bits (ReadsNormalOrZero): a host that unmasked the invalid or denormal trap must not
  // be stopped by the test, before the run has reset its unit.
  if (UsesFastForm(evaluator) &&
      RunFast(program, evaluator, record, ReadsNormalOrZero(evaluator.fast, evaluator.registers)))
    return true;
  return RunProgram(program, evaluator, record);
}

// One run over the host's values, which go in through the registers; its fault in `record`.
bool RunGuarded(const Program& program, Evaluator& evaluator, EvalRecord* record, double* values) {
  const size_t size = static_cast<size_t>(program.variableCount) * sizeof(double);
  if (!KALO_CHECK(!platform::IsBadReadPointer(values, size), CHECK_FILE_PARSE) ||
      !KALO_CHECK(!platform::IsBadWritePointer(values, size), CHECK_FILE_PARSE)) {
    record->errorCode = ERROR_BAD_ADDRESS;
    return false;
  }
  if (!KALO_CHECK(program.variableCount <= program.poolCount, CHECK_FILE_PARSE)) {
    record->errorCode = ERROR_INTERNAL;
    return false;
  }
  for (int i = 0; i < program.variableCount; ++i) evaluator.registers[i] = values[i];
  const FloatScope floatScope(UsesX87(evaluator.fast));
  return RunRow(program, evaluator, record);
}

// Every column present, and the variables within the pool; else the fault in `record`.
bool CheckColumns(const Program& program, double* const* columns, EvalRecord* record) {
  bool present = KALO_CHECK(columns != nullptr, CHECK_FILE_PARSE);
  for (int i = 0; present && i < program.variableCount; ++i)
    present = KALO_CHECK(columns[i] != nullptr, CHECK_FILE_PARSE);
  if (!present) {
    record->errorCode = ERROR_BAD_ADDRESS;
    return false;
  }
  if (!KALO_CHECK(program.variableCount <= program.poolCount, CHECK_FILE_PARSE)) {
    record->errorCode = ERROR_INTERNAL;
    return false;
  }
  return true;
}

// What ran the last row so far, which tells where its record is.
enum class LastRowBy { ROW, LOOP, BLOCKS };

// A columns call's way through its rows.
struct ColumnsRun {
  double* const* columns;
  NativeColumnsEntry loop;    // row after row, or null
  NativeColumnsEntry blocks;  // blocks of rows, or null
  NativeFrame frame;
  LastRowBy lastRowBy;
};

// Whether a column the program reads overlaps the assigned one without being it: then a block
// could read a value that an earlier row of the same block writes, row by row.
bool ColumnsOverlap(const Program& program, double* const* columns, long rowCount) {
  const auto start = [&](int i) { return reinterpret_cast<uintptr_t>(columns[i]); };
  const uintptr_t size = static_cast<uintptr_t>(rowCount) * sizeof(double);
  const uintptr_t assigned = start(program.assignedVariable);
  for (int i = 0; i < program.variableCount; ++i)
    if (start(i) != assigned && start(i) < assigned + size && assigned < start(i) + size)
      return true;
  return false;
}

// Rows `row` to `end` - 1: in machine code row after row until a row needs a closer look; that
// row runs alone, exactly as Evaluate would run it. Returns `end`, or the row that failed.
long RunRows(const Program& program, Evaluator& evaluator, EvalRecord* record, ColumnsRun& run,
             long row, long end) {
  double* const registers = evaluator.registers;
  for (; row < end; ++row) {
    if (run.loop != nullptr) {
      const long stop = run.loop(registers, &run.frame, run.columns, row, end);
      if (stop > row) run.lastRowBy = LastRowBy::LOOP;
      if ((row = stop) == end) break;
    }
    for (int i = 0; i < program.variableCount; ++i) registers[i] = run.columns[i][row];
    if (!RunRow(program, evaluator, record)) return row;
    run.columns[program.assignedVariable][row] = registers[program.assignedVariable];
    run.lastRowBy = LastRowBy::ROW;
  }
  return end;
}

}  // namespace

bool Evaluate(const Program& program, Evaluator* evaluator, EvalRecord* record, double* values) {
  if (!EnterGate(record)) return false;
  const BusyScope busy;
  *record = EvalRecord{};
  const bool succeeded = RunGuarded(program, *evaluator, record, values);
  const int assigned = program.assignedVariable;
  if (succeeded) values[assigned] = evaluator->registers[assigned];
  return succeeded;
}

long EvaluateColumns(const Program& program, Evaluator* evaluator, EvalRecord* record,
                     double* const* columns, long rowCount) {
  if (rowCount <= 0) return 0;
  if (!EnterGate(record)) return 0;
  const BusyScope busy;
  *record = EvalRecord{};
  if (!CheckColumns(program, columns, record)) return 0;
  // One reset of the unit serves every row: a run changes no control bit, and the interpreter
  // clears the flags it reads before it starts.
  const FloatScope floatScope(UsesX87(evaluator->fast));
  ColumnsRun run{columns, nullptr, nullptr, {evaluator->angularUnits, 0}, LastRowBy::ROW};
  if (UsesFastForm(*evaluator) && evaluator->fastest == Form::MACHINE_CODE) {
    NativeCode& native = evaluator->fast.native;
    WriteColumnsEntries(evaluator->fast, &native);
    run.loop = native.columnsEntry;
    if (!ColumnsOverlap(program, columns, rowCount)) run.blocks = native.lanesEntry;
  }
  double* const registers = evaluator->registers;
  // Blocks of rows while they are clean; a doubtful block and the rows after the last whole
  // block go one row at a time.
  for (long row = 0; row < rowCount;) {
    long end = rowCount;
    if (run.blocks != nullptr) {
      const long stop = run.blocks(registers, &run.frame, columns, row, rowCount);
      if (stop > row) run.lastRowBy = LastRowBy::BLOCKS;
      if ((row = stop) == rowCount) break;
      end = std::min(row + LANE_COUNT, rowCount);
    }
    const long stop = RunRows(program, *evaluator, record, run, row, end);
    if (stop != end) return stop;
    row = end;
  }
  if (run.lastRowBy == LastRowBy::BLOCKS) {
    registers[RECORD_TOP_REGISTER] = registers[LANE_RECORD_TOP_REGISTERS + LANE_COUNT - 1];
    registers[RECORD_NEXT_REGISTER] = registers[LANE_RECORD_NEXT_REGISTERS + LANE_COUNT - 1];
  }
  if (run.lastRowBy != LastRowBy::ROW) RecordCleanRun(program, evaluator->fast, registers, record);
  return rowCount;
}

}  // namespace kalo
