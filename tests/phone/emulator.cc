#include "tests/phone/emulator.h"

#include <cstring>

namespace velmo::phone {
namespace {

// The emulated address space.
constexpr uint64_t kTrapBase = 0x70000000;
constexpr uint64_t kTrapPageSize = 0x10000;                // 16384 traps of one `brk` each
constexpr uint64_t kSentinel = kTrapBase + kTrapPageSize;  // where outermost calls return
constexpr uint64_t kPoisonBase = 0x60000000;               // unmapped: missing imports
constexpr uint64_t kStackBase = 0x300000000;
constexpr uint64_t kStackSize = 1 << 20;
constexpr uint64_t kHeapBase = 0x200000000;
constexpr uint64_t kHeapLimit = 256ull << 20;
constexpr uint64_t kHeapChunk = 1 << 20;
constexpr uint32_t kBrk0 = 0xd4200000;  // brk #0
constexpr uint32_t kBrk1 = 0xd4200020;  // brk #1
constexpr uint64_t kMaxTrapCalls = 2'000'000;
// A page of single instructions the emulator runs for itself: pac* and
// aut* on x0 with the modifier x1, and the enabling of the keys.
constexpr uint64_t kScratch = 0x70100000;
constexpr uint32_t kScratchCode[] = {
    0xdac10020, 0xdac10420, 0xdac10820, 0xdac10c20,  // pacia pacib pacda pacdb x0, x1
    0xdac11020, 0xdac11420, 0xdac11820, 0xdac11c20,  // autia autib autda autdb x0, x1
    0xd2840001,                                      // movz x1, #0x2000 (EnDB)
    0xf2b90001,                                      // movk x1, #0xc800, lsl #16 (EnIA EnIB EnDA)
    0xd5381000,                                      // mrs x0, sctlr_el1
    0xaa010000,                                      // orr x0, x0, x1
    0xd5181000,                                      // msr sctlr_el1, x0
    0xd5033fdf,                                      // isb
};
constexpr unsigned kEnableKeys = 8, kEnableKeysLength = 6;
// With T0SZ 25 an address has 39 bits; bits 39 and up of a signed pointer
// hold its signature, of an authenticated one nothing (error bits on failure).
constexpr unsigned kAddressBits = 39;

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

int XReg(int i) {
  if (i <= 28) return UC_ARM64_REG_X0 + i;
  return i == 29 ? UC_ARM64_REG_X29 : UC_ARM64_REG_X30;
}

}  // namespace

bool IsPoisonD(double d) {
  uint64_t bits;
  memcpy(&bits, &d, 8);
  return (bits & ~0xffull) == kPoisonD;
}

uint64_t Trap::x(int i) const { return emu_.Reg(XReg(i)); }
double Trap::d(int i) const {
  uint64_t bits = emu_.Reg(UC_ARM64_REG_D0 + i);
  double d;
  memcpy(&d, &bits, 8);
  return d;
}
uint64_t Trap::sp() const { return emu_.Reg(UC_ARM64_REG_SP); }
uint64_t Trap::lr() const { return emu_.Reg(UC_ARM64_REG_X30); }
uint64_t Trap::Stack64(uint64_t offset) const { return emu_.Read64(sp() + offset); }
uint32_t Trap::Stack32(uint64_t offset) const { return emu_.Read32(sp() + offset); }
uint8_t Trap::Stack8(uint64_t offset) const { return emu_.Read8(sp() + offset); }
void Trap::Return(uint64_t x0) {
  x0_ = x0;
  results_x_ = 1;
}
void Trap::Return2(uint64_t x0, uint64_t x1) {
  x0_ = x0;
  x1_ = x1;
  results_x_ = 2;
}
void Trap::ReturnDouble(std::array<double, 4> d, int count) {
  d_ = d;
  results_d_ = count;
}
void Trap::Jump(uint64_t pc) {
  jump_ = true;
  jump_pc_ = pc;
}
void Trap::SetX(int i, uint64_t value) { emu_.SetReg(XReg(i), value); }

Emulator::Emulator() : heap_next_(kHeapBase), heap_mapped_end_(kHeapBase) {
  Check(uc_open(UC_ARCH_ARM64, UC_MODE_ARM, &uc_), "uc_open");
  // The default CPU has no pointer authentication.
  Check(uc_ctl_set_cpu_model(uc_, UC_CPU_ARM64_MAX), "uc_ctl_set_cpu_model");
  Map(kTrapBase, kTrapPageSize + 0x1000, UC_PROT_READ | UC_PROT_EXEC);
  std::vector<uint32_t> page((kTrapPageSize + 0x1000) / 4, kBrk0);
  page[kTrapPageSize / 4] = kBrk1;
  Write(kTrapBase, page.data(), page.size() * 4);
  Map(kStackBase, kStackSize, UC_PROT_READ | UC_PROT_WRITE);
  uc_hook h;
  Check(uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(&OnCode), this, kTrapBase,
                    kTrapBase + kTrapPageSize - 1),
        "uc_hook_add");
  hooks_.push_back(h);
  Check(uc_hook_add(uc_, &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&OnInvalid), this, 1, 0),
        "uc_hook_add");
  hooks_.push_back(h);
  Check(uc_hook_add(uc_, &h, UC_HOOK_INTR, reinterpret_cast<void*>(&OnInterrupt), this, 1, 0),
        "uc_hook_add");
  hooks_.push_back(h);
  // Floating point and SIMD on at EL0, as on the phone.
  uint64_t cpacr = 3 << 20;
  uc_reg_write(uc_, UC_ARM64_REG_CPACR_EL1, &cpacr);
  EnablePointerAuthentication();
}

void Emulator::EnablePointerAuthentication() {
  auto set = [&](uint32_t op0, uint32_t op1, uint32_t crn, uint32_t crm, uint32_t op2,
                 uint64_t value, bool merge) {
    uc_arm64_cp_reg reg{crn, crm, op0, op1, op2, 0};
    if (merge) Check(uc_reg_read(uc_, UC_ARM64_REG_CP_REG, &reg), "reading a system register");
    reg.val = merge ? reg.val | value : value;
    Check(uc_reg_write(uc_, UC_ARM64_REG_CP_REG, &reg), "writing a system register");
  };
  set(3, 4, 1, 1, 0, (1ull << 41) | (1ull << 40), true);  // HCR_EL2 API APK
  set(3, 6, 1, 1, 0, (1ull << 0) | (1ull << 10) | (1ull << 16) | (1ull << 17), true);  // SCR_EL3
  uc_arm64_cp_reg tcr{2, 0, 3, 0, 2, 0};
  Check(uc_reg_read(uc_, UC_ARM64_REG_CP_REG, &tcr), "reading TCR_EL1");
  tcr.val = (tcr.val & ~uint64_t{0x3f}) | (64 - kAddressBits);  // T0SZ
  Check(uc_reg_write(uc_, UC_ARM64_REG_CP_REG, &tcr), "writing TCR_EL1");
  // Fixed, arbitrary keys: APIAKey, APIBKey (c2,c1), APDAKey, APDBKey (c2,c2), low then high.
  const uint64_t keys[4][2] = {{0x1f2e3d4c5b6a7988, 0x0123456789abcdef},
                               {0x8877665544332211, 0x1122334455667788},
                               {0x0f1e2d3c4b5a6978, 0xfedcba9876543210},
                               {0x7a6b5c4d3e2f1a0b, 0x99aabbccddeeff00}};
  for (uint32_t k = 0; k < 4; ++k)
    for (uint32_t half = 0; half < 2; ++half)
      set(3, 0, 2, 1 + k / 2, (k % 2) * 2 + half, keys[k][half], false);
  Map(kScratch, 0x1000, UC_PROT_READ | UC_PROT_EXEC);
  Write(kScratch, kScratchCode, sizeof kScratchCode);
  // The keys take effect only when SCTLR_EL1 is written by an instruction.
  const uint64_t begin = kScratch + 4 * kEnableKeys;
  Check(uc_emu_start(uc_, begin, begin + 4 * kEnableKeysLength, 0, kEnableKeysLength),
        "enabling pointer authentication");
  if (Sign(kStackBase, 0, 0) == kStackBase)
    throw EmulationError("the emulated CPU does not sign pointers");
}

uint64_t Emulator::RunScratch(unsigned instruction, uint64_t x0, uint64_t x1) {
  // Runs between emulation steps (never inside a hook); the registers it
  // uses are put back.
  const uint64_t saved_x0 = Reg(UC_ARM64_REG_X0), saved_x1 = Reg(UC_ARM64_REG_X1),
                 saved_pc = Reg(UC_ARM64_REG_PC);
  SetReg(UC_ARM64_REG_X0, x0);
  SetReg(UC_ARM64_REG_X1, x1);
  const uint64_t at = kScratch + 4 * instruction;
  Check(uc_emu_start(uc_, at, at + 4, 0, 1), "a pointer-authentication instruction");
  const uint64_t result = Reg(UC_ARM64_REG_X0);
  SetReg(UC_ARM64_REG_X0, saved_x0);
  SetReg(UC_ARM64_REG_X1, saved_x1);
  SetReg(UC_ARM64_REG_PC, saved_pc);
  return result;
}

uint64_t Emulator::Sign(uint64_t pointer, uint8_t key, uint64_t modifier) {
  if (key > 3) throw EmulationError("no pointer-authentication key " + std::to_string(key));
  return RunScratch(key, pointer, modifier);
}

std::optional<uint64_t> Emulator::Authenticate(uint64_t pointer, uint8_t key, uint64_t modifier) {
  if (key > 3) throw EmulationError("no pointer-authentication key " + std::to_string(key));
  uint64_t result = RunScratch(4 + key, pointer, modifier);
  if (result >> kAddressBits) return std::nullopt;
  return result;
}

Emulator::~Emulator() {
  if (uc_) uc_close(uc_);
}

void Emulator::Check(uc_err err, const char* what) const {
  if (err != UC_ERR_OK) throw EmulationError(std::string(what) + ": " + uc_strerror(err));
}

uint64_t Emulator::Reg(int id) const {
  uint64_t v = 0;
  uc_reg_read(uc_, id, &v);
  return v;
}

void Emulator::SetReg(int id, uint64_t value) { uc_reg_write(uc_, id, &value); }

void Emulator::Map(uint64_t address, uint64_t size, uint32_t prot) {
  if (uc_mem_map(uc_, address, size, prot) != UC_ERR_OK)
    throw EmulationError("cannot map " + Hex(size) + " bytes at " + Hex(address));
}

bool Emulator::IsMapped(uint64_t address, size_t size) const {
  uc_mem_region* regions = nullptr;
  uint32_t count = 0;
  if (uc_mem_regions(uc_, &regions, &count) != UC_ERR_OK) return false;
  // Regions may be adjacent: walk forward from `address` until `size` is covered.
  uint64_t at = address, end = address + size;
  if (end < address) {
    uc_free(regions);
    return false;
  }
  bool progress = true;
  while (at < end && progress) {
    progress = false;
    for (uint32_t i = 0; i < count; ++i) {
      if (at >= regions[i].begin && at <= regions[i].end) {
        at = regions[i].end + 1;
        progress = at != 0;
        break;
      }
    }
  }
  uc_free(regions);
  return at >= end;
}

void Emulator::Read(uint64_t address, void* out, size_t size) const {
  if (size == 0) return;
  if (uc_mem_read(uc_, address, out, size) != UC_ERR_OK)
    throw EmulationError("read of " + std::to_string(size) + " bytes at " + Describe(address) +
                         ": not mapped");
}

void Emulator::Write(uint64_t address, const void* data, size_t size) {
  if (size == 0) return;
  if (uc_mem_write(uc_, address, data, size) != UC_ERR_OK)
    throw EmulationError("write of " + std::to_string(size) + " bytes at " + Describe(address) +
                         ": not mapped");
}

uint64_t Emulator::Read64(uint64_t address) const {
  uint64_t v;
  Read(address, &v, 8);
  return v;
}
uint32_t Emulator::Read32(uint64_t address) const {
  uint32_t v;
  Read(address, &v, 4);
  return v;
}
uint8_t Emulator::Read8(uint64_t address) const {
  uint8_t v;
  Read(address, &v, 1);
  return v;
}
void Emulator::Write64(uint64_t address, uint64_t value) { Write(address, &value, 8); }

std::string Emulator::ReadCString(uint64_t address, size_t max_length) const {
  if (address == 0) throw EmulationError("a C string argument is NULL");
  std::string s;
  char chunk[64];
  for (;;) {
    // Reads byte-wise near the end of a mapping, in chunks otherwise.
    size_t n = IsMapped(address + s.size(), sizeof chunk) ? sizeof chunk : 1;
    Read(address + s.size(), chunk, n);
    size_t len = strnlen(chunk, n);
    s.append(chunk, len);
    if (len < n) return s;
    if (s.size() > max_length)
      throw EmulationError("string at " + Describe(address) + " is not terminated within " +
                           std::to_string(max_length) + " bytes");
  }
}

uint64_t Emulator::Alloc(uint64_t size) {
  uint64_t rounded = (std::max<uint64_t>(size, 1) + 15) & ~uint64_t{15};
  if (size > kHeapLimit || heap_next_ + rounded > kHeapBase + kHeapLimit)
    throw EmulationError("the emulated heap is exhausted (asked for " + std::to_string(size) +
                         " bytes)");
  while (heap_next_ + rounded > heap_mapped_end_) {
    Map(heap_mapped_end_, kHeapChunk, UC_PROT_READ | UC_PROT_WRITE);
    heap_mapped_end_ += kHeapChunk;
  }
  uint64_t address = heap_next_;
  heap_next_ += rounded;
  live_blocks_[address] = size;
  return address;
}

void Emulator::Free(uint64_t address) {
  auto it = live_blocks_.find(address);
  if (it == live_blocks_.end())
    throw EmulationError("free of " + Describe(address) + ", which is not a live heap block");
  std::vector<uint8_t> filler(it->second, 0xa5);
  Write(address, filler.data(), filler.size());
  live_blocks_.erase(it);
}

uint64_t Emulator::BlockSize(uint64_t address) const {
  auto it = live_blocks_.find(address);
  return it == live_blocks_.end() ? 0 : it->second;
}

uint64_t Emulator::AddTrap(std::string name, TrapHandler handler) {
  if (traps_.size() >= kTrapPageSize / 4) throw EmulationError("out of trap addresses");
  traps_.emplace_back(std::move(name), std::move(handler));
  return kTrapBase + 4 * (traps_.size() - 1);
}

bool Emulator::IsTrap(uint64_t address) const {
  return address >= kTrapBase && address < kTrapBase + 4 * traps_.size() && address % 4 == 0;
}

uint64_t Emulator::PoisonAddress(const std::string& symbol) {
  auto it = poison_by_name_.find(symbol);
  if (it != poison_by_name_.end()) return it->second;
  uint64_t address = kPoisonBase + 0x1000 * poison_.size();
  poison_[address] = symbol;
  poison_by_name_[symbol] = address;
  return address;
}

void Emulator::CountRange(uint64_t begin, uint64_t end, std::string name) {
  uc_hook h;
  Check(
      uc_hook_add(uc_, &h, UC_HOOK_CODE, reinterpret_cast<void*>(&OnCounted), this, begin, end - 1),
      "uc_hook_add");
  hooks_.push_back(h);
  counted_.push_back({begin, end, std::move(name)});
}

std::string Emulator::Describe(uint64_t address) const {
  for (const Range& r : counted_)
    if (address >= r.begin && address < r.end) return r.name + "+" + Hex(address - r.begin);
  if (address == kSentinel) return "the return of a call from C++";
  if (IsTrap(address)) return "trap " + traps_[(address - kTrapBase) / 4].first;
  auto it = poison_.upper_bound(address);
  if (it != poison_.begin() && address - std::prev(it)->first < 0x1000)
    return "the missing import " + std::prev(it)->second;
  return Hex(address);
}

void Emulator::OnCode(uc_engine* uc, uint64_t address, uint32_t, void* self) {
  auto* emu = static_cast<Emulator*>(self);
  emu->stopped_at_trap_ = address;
  uc_emu_stop(uc);
}

bool IsPointerAuthentication(uint32_t insn) {
  // Hints: pacia1716 (8), pacib1716 (10), autia1716 (12), autib1716 (14),
  // paciaz..autibsp (24 to 31); xpaclri (7).
  if ((insn & 0xfffff01f) == 0xd503201f) {
    uint32_t hint = (insn >> 5) & 0x7f;
    return hint == 7 || hint == 8 || hint == 10 || hint == 12 || hint == 14 ||
           (hint >= 24 && hint <= 31);
  }
  // Data processing, one source: pacia..autdzb (opcodes 0 to 15), xpaci, xpacd.
  if ((insn & 0xffff8000) == 0xdac10000) return ((insn >> 10) & 0x1f) <= 0x11;
  if ((insn & 0xffe0fc00) == 0x9ac03000) return true;  // pacga
  // Branches to a register with authentication: braa(z), brab(z), blraa(z),
  // blrab(z), retaa, retab, eretaa, eretab.
  if ((insn & 0xfe1ff800) == 0xd61f0800) return true;
  // ldraa, ldrab (offset and pre-indexed).
  return (insn & 0xff200400) == 0xf8200400;
}

void Emulator::OnCounted(uc_engine* uc, uint64_t address, uint32_t, void* self) {
  auto* emu = static_cast<Emulator*>(self);
  ++emu->instructions_;
  if (emu->count_pointer_auth_) {
    uint32_t insn = 0;
    if (uc_mem_read(uc, address, &insn, sizeof insn) == UC_ERR_OK && IsPointerAuthentication(insn))
      ++emu->pointer_auth_instructions_;
  }
  if (emu->instructions_ - emu->run_start_instructions_ > emu->instruction_limit_) {
    emu->limit_hit_ = true;
    uc_emu_stop(uc);
  } else if ((emu->instructions_ & 0xfffff) == 0 &&
             std::chrono::steady_clock::now() > emu->deadline_) {
    emu->limit_hit_ = true;
    uc_emu_stop(uc);
  }
}

bool Emulator::OnInvalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t,
                         void* self) {
  auto* emu = static_cast<Emulator*>(self);
  const char* kind = "access";
  switch (type) {
    case UC_MEM_READ_UNMAPPED:
      kind = "read of unmapped memory";
      break;
    case UC_MEM_WRITE_UNMAPPED:
      kind = "write to unmapped memory";
      break;
    case UC_MEM_FETCH_UNMAPPED:
      kind = "jump to unmapped memory";
      break;
    case UC_MEM_READ_PROT:
      kind = "read of protected memory";
      break;
    case UC_MEM_WRITE_PROT:
      kind = "write to read-only memory";
      break;
    case UC_MEM_FETCH_PROT:
      kind = "jump to non-executable memory";
      break;
    default:
      break;
  }
  uint64_t pc = emu->Reg(UC_ARM64_REG_PC);
  auto it = emu->poison_.upper_bound(address);
  if (it != emu->poison_.begin() && address - std::prev(it)->first < 0x1000) {
    emu->fault_ = "the image used the import " + std::prev(it)->second +
                  ", which the model does not provide (" + kind + " at " + emu->Describe(pc) +
                  ", called from " + emu->Describe(emu->Reg(UC_ARM64_REG_X30)) + ")";
  } else {
    emu->fault_ = std::string("memory fault: ") + kind + " at " + Hex(address) + " (" +
                  std::to_string(size) + " bytes) by " + emu->Describe(pc) + ", lr " +
                  emu->Describe(emu->Reg(UC_ARM64_REG_X30));
  }
  return false;
}

void Emulator::OnInterrupt(uc_engine* uc, uint32_t intno, void* self) {
  auto* emu = static_cast<Emulator*>(self);
  if (emu->stopped_at_trap_ != 0) return;
  emu->fault_ = "exception " + std::to_string(intno) + " (brk or svc) at " +
                emu->Describe(emu->Reg(UC_ARM64_REG_PC));
  uc_emu_stop(uc);
}

void Emulator::PoisonCallerSaved(int keep_x, int keep_d) {
  for (int i = keep_x; i <= 17; ++i) SetReg(XReg(i), kPoisonX | i);
  for (int i = keep_d; i < 8; ++i) SetReg(UC_ARM64_REG_D0 + i, kPoisonD | i);
}

void Emulator::Run(uint64_t pc) {
  for (;;) {
    stopped_at_trap_ = 0;
    limit_hit_ = false;
    fault_.clear();
    uc_err err = uc_emu_start(uc_, pc, kSentinel, 0, 0);
    if (!fault_.empty()) throw EmulationError(fault_);
    if (limit_hit_)
      throw EmulationError("runaway emulation: over " + std::to_string(instruction_limit_) +
                           " instructions or past the time limit, at " +
                           Describe(Reg(UC_ARM64_REG_PC)));
    if (err != UC_ERR_OK)
      throw EmulationError(std::string("emulation failed: ") + uc_strerror(err) + " at " +
                           Describe(Reg(UC_ARM64_REG_PC)));
    uint64_t trap = stopped_at_trap_;
    if (trap == 0) {
      uint64_t at = Reg(UC_ARM64_REG_PC);
      if (at == kSentinel) return;
      throw EmulationError("emulation stopped at " + Describe(at) + " for no known reason");
    }
    size_t index = (trap - kTrapBase) / 4;
    if (trap % 4 != 0 || index >= traps_.size())
      throw EmulationError("a call to " + Hex(trap) +
                           " in the trap page, which no model function owns (from " +
                           Describe(Reg(UC_ARM64_REG_X30)) + ")");
    if (++trap_calls_ > kMaxTrapCalls || std::chrono::steady_clock::now() > deadline_)
      throw EmulationError(
          "runaway emulation: too many calls into the model or past the time limit, at " +
          traps_[index].first);
    Trap t(*this, traps_[index].first);
    uint64_t caller = Reg(UC_ARM64_REG_X30);
    try {
      traps_[index].second(t);
    } catch (const std::exception& e) {
      throw EmulationError(std::string(e.what()) + "\n  in " + traps_[index].first +
                           ", called from " + Describe(caller));
    }
    if (t.jump_) {
      pc = t.jump_pc_;
      continue;
    }
    if (t.results_x_ > 0) SetReg(UC_ARM64_REG_X0, t.x0_);
    if (t.results_x_ > 1) SetReg(UC_ARM64_REG_X1, t.x1_);
    for (int i = 0; i < t.results_d_; ++i) {
      uint64_t bits;
      memcpy(&bits, &t.d_[i], 8);
      SetReg(UC_ARM64_REG_D0 + i, bits);
    }
    PoisonCallerSaved(t.results_x_, t.results_d_);
    pc = Reg(UC_ARM64_REG_X30);
  }
}

RegisterResult Emulator::Call(uint64_t address, const RegisterArgs& args) {
  const bool outermost = depth_ == 0;
  uc_context* saved = nullptr;
  if (!outermost) {
    Check(uc_context_alloc(uc_, &saved), "uc_context_alloc");
    uc_context_save(uc_, saved);
  }
  // Restores the interrupted level's registers however this call ends.
  struct Level {
    Emulator& emu;
    uc_context* saved;
    ~Level() {
      --emu.depth_;
      if (saved) {
        uc_context_restore(emu.uc_, saved);
        uc_context_free(saved);
      }
    }
  } level{*this, saved};
  ++depth_;
  uint64_t sp;
  if (outermost) {
    deadline_ = std::chrono::steady_clock::now() + time_limit_;
    run_start_instructions_ = instructions_;
    trap_calls_ = 0;
    sp = kStackBase + kStackSize;
  } else {
    // Below the interrupted code's frame and its 128-byte red zone.
    sp = (Reg(UC_ARM64_REG_SP) - 256) & ~uint64_t{15};
  }
  sp -= (args.stack.size() + 15) & ~uint64_t{15};
  if (sp < kStackBase + 4096)
    throw EmulationError("emulated stack exhausted (calls nested too deeply)");
  Write(sp, args.stack.data(), args.stack.size());
  for (int i = 0; i < 8; ++i) {
    SetReg(XReg(i), args.x[i]);
    uint64_t bits;
    memcpy(&bits, &args.d[i], 8);
    SetReg(UC_ARM64_REG_D0 + i, bits);
  }
  for (int i = 8; i <= 17; ++i) SetReg(XReg(i), kPoisonX | i);
  SetReg(UC_ARM64_REG_X29, 0);
  SetReg(UC_ARM64_REG_X30, kSentinel);
  SetReg(UC_ARM64_REG_SP, sp);
  uint64_t before = instructions_;
  Run(address);
  RegisterResult r;
  r.x0 = Reg(UC_ARM64_REG_X0);
  r.x1 = Reg(UC_ARM64_REG_X1);
  for (int i = 0; i < 4; ++i) {
    uint64_t bits = Reg(UC_ARM64_REG_D0 + i);
    memcpy(&r.d[i], &bits, 8);
  }
  r.instructions = instructions_ - before;
  return r;
}

}  // namespace velmo::phone
