// What a program's own debugging information says about its addresses: which function holds
// an address, which source line it came from, every line-table row (for coverage), and how to
// walk back through the callers of a stopped program (DWARF call-frame information, else the
// frame-pointer chain).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace nuv {

struct DebugInfoError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A function from the symbol table: [low, high).
struct Function {
  std::string name;          // demangled: "outer(int volatile*, int)", "main"
  std::string linkage_name;  // as the symbol table has it: "_Z5outerPVii"
  uint32_t low = 0;
  uint32_t high = 0;
};

struct SourceLine {
  std::string file;  // as the compiler recorded it, made absolute with the unit's directory
  int line = 0;
  bool operator==(const SourceLine&) const = default;
};

// One row of the line table: the code at `address` begins source line file:line.
struct LineRow {
  std::string file;
  int line = 0;
  uint32_t address = 0;
};

// The i386 registers in DWARF numbering: the order the call-frame information uses.
enum Reg : int { kEax, kEcx, kEdx, kEbx, kEsp, kEbp, kEsi, kEdi, kEip, kRegCount };
using Registers = std::array<uint32_t, kRegCount>;

// Reads one 32-bit word of guest memory; false where nothing is mapped.
using ReadWord = std::function<bool(uint32_t address, uint32_t& value)>;

struct Frame {
  uint32_t pc = 0;  // the stopped instruction, or a return address for callers
  const Function* function = nullptr;
  std::optional<SourceLine> line;
};

class DebugInfo {
 public:
  // Reads the symbols, the line table and the call-frame information of an ELF executable.
  // A file without DWARF still gives its symbols; one that is not ELF throws DebugInfoError.
  static std::unique_ptr<DebugInfo> open(const std::string& path);
  ~DebugInfo();
  DebugInfo(const DebugInfo&) = delete;
  DebugInfo& operator=(const DebugInfo&) = delete;

  const Function* function_at(uint32_t address) const;
  // By demangled or linkage name, or by a C++ name without its parameter list ("outer").
  const Function* function_named(const std::string& name) const;
  std::optional<SourceLine> line_at(uint32_t address) const;

  std::span<const Function> functions() const { return functions_; }  // by address
  std::span<const LineRow> lines() const { return rows_; }            // by address

  // The innermost frame first; stops at max_frames, at a return address outside every known
  // function, or when the stack stops making sense (no progress, unreadable memory).
  std::vector<Frame> unwind(const Registers& regs, const ReadWord& read,
                            size_t max_frames = 64) const;

 private:
  DebugInfo() = default;
  void read_symbols();
  void read_lines();
  // One step outwards: the caller's registers, or nothing when CFI does not cover `pc`.
  std::optional<Registers> step_cfi(const Registers& regs, uint32_t pc, const ReadWord& read) const;

  // Contiguous [begin, end) pieces of code and their source line, from the rows.
  struct Span {
    uint32_t begin = 0;
    uint32_t end = 0;
    size_t file = 0;
    int line = 0;
  };

  struct Handles;
  std::unique_ptr<Handles> h_;
  std::vector<Function> functions_;
  std::vector<LineRow> rows_;
  std::vector<std::string> files_;
  std::vector<Span> spans_;
};

// "name (file:line)" or "0x..." pieces for one frame, as people read a backtrace.
std::string describe(const Frame& frame);

}  // namespace nuv
