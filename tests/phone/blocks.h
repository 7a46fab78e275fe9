// Blocks: the model of the blocks runtime (_Block_copy, _Block_release,
// _Block_object_assign/_dispose and the block classes), working on blocks
// in emulated memory through the real layout:
//   {isa, int flags, int reserved, invoke, descriptor, captures...}
//   descriptor {reserved, size, [copy, dispose], [signature]}
// Copy() of a stack block makes a heap copy and runs its copy helper;
// Release() of the last reference runs the dispose helper and frees it.
// Invoke() calls a block's invoke function with the block first, after
// checking the signature clang wrote into it against what the caller of
// the block expects. Heap copies still alive are reported as leaks.
//
// In an arm64e process blocks carry signed pointers, as the blocks runtime
// and the compiler sign them: the isa DA blended with its address and
// 0x6AE1, invoke and the descriptor's copy and dispose helpers IA blended
// with their own addresses and 0. Every block the image hands to the model
// (_Block_copy, _Block_release, dispatch, a model method's block argument)
// has those authenticated, failing by name; the blocks the model makes (its
// own, heap copies) are signed so.
// Used from one thread, with the Runtime it was made with.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class Blocks {
 public:
  explicit Blocks(Runtime& runtime);

  // A heap block made by the model, as a host framework hands one to the
  // image (a completion handler): its invoke function runs `fn` with the
  // block's arguments (argument 0 is the block itself). One reference, owned
  // by the caller; it carries `signature` ("v@?B") as clang would write it.
  uint64_t Make(std::string_view signature, ModelFn fn);
  // `receiver` names who was given the block, for messages.
  uint64_t Copy(uint64_t block, const std::string& receiver = "_Block_copy");
  void Release(uint64_t block);
  // Calls the block with `args` (the block itself is passed first). The
  // signature is the block's type encoding, e.g. "v@?B" for void (^)(BOOL).
  Value Invoke(uint64_t block, std::string_view signature, std::vector<Value> args = {});
  // The signature clang wrote into the block, offsets removed.
  std::optional<std::string> SignatureOf(uint64_t block) const;
  bool IsBlock(uint64_t address) const;
  bool IsHeapBlock(uint64_t block) const { return heap_blocks_.count(block) != 0; }
  size_t live_heap_blocks() const { return heap_blocks_.size(); }
  std::string LeakReport() const;
  uint64_t copies() const { return copies_; }

 private:
  struct Layout {
    uint64_t isa;
    uint32_t flags;
    uint64_t invoke, descriptor;
  };
  // Reads a block, authenticating its isa, invoke and helpers; the Layout
  // holds them plain. `receiver` names who was given the block.
  Layout Read(uint64_t block, const std::string& receiver) const;
  uint64_t DescriptorField(const Layout& b, int index) const;
  uint64_t Helper(const Layout& b, int index, const std::string& receiver) const;
  uint64_t Isa(uint64_t block) const { return rt_.pac.Strip(emu_.Read64(block)); }

  Runtime& rt_;
  Emulator& emu_;
  uint64_t stack_class_, global_class_, malloc_class_;
  std::set<uint64_t> heap_blocks_;
  uint64_t copies_ = 0;
  uint64_t made_ = 0;
};

}  // namespace velmo::phone
