// Emulator: an arm64 CPU (Unicorn) with the memory a loaded phone library
// runs in, and the means to call between C++ and emulated code.
//
// Memory: images are mapped by the loader; the emulator owns a stack and a
// heap (Alloc/Free, never reused, so that a stale pointer reads freed
// memory's 0xA5 filler instead of someone else's data). Reads and writes
// from C++ are checked and throw EmulationError on unmapped memory.
//
// Calls from emulated code into C++: AddTrap() gives an address in a page of
// `brk` instructions; a call to it (a `bl`, a `br` through a bound import, a
// method implementation, a hook's original) stops emulation and runs the
// handler with the CPU state (Trap). The handler reads arguments from x0-x7,
// d0-d7 and the stack, and either returns a value (written to x0/x1 or
// d0-d3, then execution resumes at lr) or continues at another emulated
// address with the registers as they are (a tail call, as objc_msgSend
// does). On the way back, the caller-saved registers that carry no result
// are filled with recognisable poison values, as the calling convention
// allows, so that emulated code that relies on a register the callee was
// free to clobber, or that passes an argument in the wrong register class,
// hands the next model function a poison value the model can recognise.
//
// Calls from C++ into emulated code: Call() runs an emulated function with
// arguments and returns its result. It is re-entrant: a handler may call
// back into emulation (C++ -> emulated -> trap -> C++ -> emulated ...); each
// level saves and restores the whole CPU state around the nested run.
//
// Failures: a memory fault, an instruction limit or time limit overrun, a
// call to an address bound to a missing import (PoisonAddress) or an
// exception thrown by a handler ends the outermost Call() with an exception
// whose message names what happened and where (image+offset).
//
// Counting: instructions executed inside counted ranges (an image's code,
// CountRange) are counted exactly; InstructionCount() is a running total.
//
// Pointer authentication: the CPU is Unicorn's MAX model with the four
// keys (IA, IB, DA, DB) set to fixed values and enabled, so that arm64e
// code signs and authenticates as on the phone. Sign() and Authenticate()
// run the CPU's own pac*/aut* instructions on a pointer and a modifier, for
// the loader and the platform model.
//
// An Emulator is used from one thread.
#pragma once

#include <unicorn/unicorn.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmo::phone {

// Whether an A64 instruction word signs, authenticates or strips a pointer:
// pac* and aut* (the hint forms pacibsp, autibsp... and the register forms),
// xpac*, pacga, the authenticating branches (braa, blraa, retab...) and the
// authenticating loads (ldraa, ldrab).
bool IsPointerAuthentication(uint32_t instruction);

class EmulationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Poison values written into clobbered registers after a call into C++.
// The low byte is the register number.
constexpr uint64_t kPoisonX = 0xbad0bad0bad0bd00ull;
constexpr uint64_t kPoisonD = 0x7ff4bad0bad0bd00ull;  // a signalling NaN
inline bool IsPoisonX(uint64_t v) { return (v & ~0xffull) == kPoisonX; }
bool IsPoisonD(double d);

// Arguments of a call into emulated code, already placed: integer and
// pointer arguments in x, floating-point ones in d, the rest on the stack.
struct RegisterArgs {
  std::array<uint64_t, 8> x{};
  std::array<double, 8> d{};
  std::vector<uint8_t> stack;  // copied to sp on entry
};

struct RegisterResult {
  uint64_t x0 = 0, x1 = 0;
  std::array<double, 4> d{};
  uint64_t instructions = 0;  // inside counted ranges, during this call
};

class Emulator;

// The CPU state at a call from emulated code into C++ (see AddTrap).
class Trap {
 public:
  uint64_t x(int i) const;
  double d(int i) const;
  uint64_t sp() const;
  uint64_t lr() const;
  // Stack arguments: `offset` bytes above sp at the call.
  uint64_t Stack64(uint64_t offset) const;
  uint32_t Stack32(uint64_t offset) const;
  uint8_t Stack8(uint64_t offset) const;
  const std::string& name() const { return name_; }
  Emulator& emulator() const { return emu_; }

  // The result: x0, or x0 and x1, and/or d0 to d(count-1).
  void Return(uint64_t x0);
  void Return2(uint64_t x0, uint64_t x1);
  void ReturnDouble(std::array<double, 4> d, int count);
  // Continue at `pc` with the registers as they are, lr unchanged.
  void Jump(uint64_t pc);
  void SetX(int i, uint64_t value);

 private:
  friend class Emulator;
  Trap(Emulator& emu, const std::string& name) : emu_(emu), name_(name) {}
  Emulator& emu_;
  const std::string& name_;
  uint64_t x0_ = 0, x1_ = 0;
  std::array<double, 4> d_{};
  int results_x_ = 0, results_d_ = 0;
  bool jump_ = false;
  uint64_t jump_pc_ = 0;
};

class Emulator {
 public:
  using TrapHandler = std::function<void(Trap&)>;

  Emulator();
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Memory. prot is UC_PROT_*.
  void Map(uint64_t address, uint64_t size, uint32_t prot);
  void Read(uint64_t address, void* out, size_t size) const;
  void Write(uint64_t address, const void* data, size_t size);
  uint64_t Read64(uint64_t address) const;
  uint32_t Read32(uint64_t address) const;
  uint8_t Read8(uint64_t address) const;
  void Write64(uint64_t address, uint64_t value);
  // A NUL-terminated string of at most max_length bytes.
  std::string ReadCString(uint64_t address, size_t max_length = 1 << 16) const;
  bool IsMapped(uint64_t address, size_t size) const;

  // The heap: zeroed, 16-byte aligned blocks. Free() of an address that is
  // not a live block throws.
  uint64_t Alloc(uint64_t size);
  void Free(uint64_t address);
  bool IsHeapBlock(uint64_t address) const { return live_blocks_.count(address) != 0; }
  uint64_t BlockSize(uint64_t address) const;
  size_t LiveBlockCount() const { return live_blocks_.size(); }

  // An address whose call runs `handler`; `name` appears in errors.
  uint64_t AddTrap(std::string name, TrapHandler handler);
  bool IsTrap(uint64_t address) const;
  // An unmapped address standing for a symbol nobody provides: any use of
  // it (a call, a read, a write) fails naming the symbol.
  uint64_t PoisonAddress(const std::string& symbol);

  // Code ranges whose executed instructions are counted, named in errors.
  void CountRange(uint64_t begin, uint64_t end, std::string name);
  uint64_t InstructionCount() const { return instructions_; }
  // Of those, the pointer-authentication instructions (IsPointerAuthentication),
  // counted only while asked for: it reads every counted instruction.
  void CountPointerAuthentication(bool on) { count_pointer_auth_ = on; }
  uint64_t PointerAuthenticationCount() const { return pointer_auth_instructions_; }

  // Runs emulated code at `address` with `args`; returns when it returns.
  RegisterResult Call(uint64_t address, const RegisterArgs& args);
  int depth() const { return depth_; }

  // Limits for one outermost Call(): instructions executed anywhere in
  // emulated code (counted at each stop and in counted ranges) and time.
  void SetInstructionLimit(uint64_t limit) { instruction_limit_ = limit; }
  void SetTimeLimit(std::chrono::milliseconds limit) { time_limit_ = limit; }

  // "Velmo.dylib+0x1234", "trap objc_msgSend", or the bare address.
  std::string Describe(uint64_t address) const;

  uc_engine* engine() const { return uc_; }

  // Pointer authentication with key 0 IA, 1 IB, 2 DA, 3 DB.
  uint64_t Sign(uint64_t pointer, uint8_t key, uint64_t modifier);
  // The pointer with its signature removed, or nullopt when the signature
  // is not the one `key` and `modifier` give (aut* leaves error bits).
  std::optional<uint64_t> Authenticate(uint64_t pointer, uint8_t key, uint64_t modifier);

 private:
  friend class Trap;
  struct Range {
    uint64_t begin, end;
    std::string name;
  };
  static void OnCode(uc_engine*, uint64_t address, uint32_t size, void* self);
  static void OnCounted(uc_engine*, uint64_t address, uint32_t size, void* self);
  static bool OnInvalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t value,
                        void* self);
  static void OnInterrupt(uc_engine*, uint32_t intno, void* self);
  void Run(uint64_t pc);
  void Check(uc_err err, const char* what) const;
  uint64_t Reg(int id) const;
  void SetReg(int id, uint64_t value);
  void PoisonCallerSaved(int keep_x, int keep_d);
  void EnablePointerAuthentication();
  uint64_t RunScratch(unsigned instruction, uint64_t x0, uint64_t x1);

  uc_engine* uc_ = nullptr;
  std::vector<uc_hook> hooks_;
  // A deque: a running handler may add traps without moving itself.
  std::deque<std::pair<std::string, TrapHandler>> traps_;
  std::map<uint64_t, std::string> poison_;  // address -> symbol
  std::map<std::string, uint64_t> poison_by_name_;
  std::vector<Range> counted_;
  std::map<uint64_t, uint64_t> live_blocks_;  // address -> size
  uint64_t heap_next_, heap_mapped_end_;
  uint64_t instructions_ = 0;
  bool count_pointer_auth_ = false;
  uint64_t pointer_auth_instructions_ = 0;
  uint64_t instruction_limit_ = 50'000'000;
  std::chrono::milliseconds time_limit_{20'000};
  std::chrono::steady_clock::time_point deadline_;
  uint64_t run_start_instructions_ = 0;
  uint64_t trap_calls_ = 0;
  int depth_ = 0;
  // Set by the hooks while emulation runs, read when it stops.
  uint64_t stopped_at_trap_ = 0;
  bool limit_hit_ = false;
  std::string fault_;
};

}  // namespace velmo::phone
