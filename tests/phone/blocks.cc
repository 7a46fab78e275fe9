#include "tests/phone/blocks.h"

namespace velmo::phone {
namespace {

constexpr uint32_t kRefcountMask = 0xfffe;
constexpr uint32_t kNeedsFree = 1u << 24;
constexpr uint32_t kHasCopyDispose = 1u << 25;
constexpr uint32_t kIsGlobal = 1u << 28;
constexpr uint32_t kHasSignature = 1u << 30;
constexpr uint64_t kMaxBlockSize = 1 << 20;
// _Block_object_assign / _dispose field kinds.
constexpr int kFieldIsObject = 3;
constexpr int kFieldIsBlock = 7;
constexpr int kFieldIsByref = 8;
constexpr int kByrefCaller = 128;

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

}  // namespace

Blocks::Blocks(Runtime& runtime) : rt_(runtime), emu_(runtime.emulator()) {
  auto block_class = [&](const char* name) {
    ObjcClass* c = rt_.DefineClass(name, "NSObject").cls();
    c->untracked_instances = true;
    return c->address;
  };
  stack_class_ = block_class("__NSStackBlock__");
  global_class_ = block_class("__NSGlobalBlock__");
  malloc_class_ = block_class("__NSMallocBlock__");
  rt_.Data("_NSConcreteStackBlock", stack_class_);
  rt_.Data("_NSConcreteGlobalBlock", global_class_);
  rt_.Data("_NSConcreteMallocBlock", malloc_class_);
  // objc_retain and objc_release of a heap block count its references.
  rt_.foreign_refcount = [this](uint64_t object, bool retain) {
    if (!emu_.IsMapped(object, 8) || Isa(object) != malloc_class_) return false;
    if (retain)
      Copy(object);
    else
      Release(object);
    return true;
  };
  for (const char* name : {"copy", "retain"})
    rt_.DefineClass("__NSMallocBlock__").Method(name, "@@:", [this](Msg& m) -> Value {
      return Copy(m.self());
    });
  rt_.DefineClass("__NSMallocBlock__").Method("release", "v@:", [this](Msg& m) -> Value {
    Release(m.self());
    return {};
  });
  rt_.DefineClass("__NSStackBlock__").Method("copy", "@@:", [this](Msg& m) -> Value {
    return Copy(m.self());
  });
  rt_.DefineClass("__NSGlobalBlock__").Method("copy", "@@:", [](Msg& m) -> Value {
    return m.self();
  });

  rt_.check_block = [this](uint64_t block, const std::string& what) { Read(block, what); };
  rt_.Function("_Block_copy", "^v^v", [this](Msg& m) -> Value { return Copy(m.U(0)); });
  rt_.Function("_Block_release", "v^v", [this](Msg& m) -> Value {
    Release(m.U(0));
    return {};
  });
  rt_.Function("_Block_object_assign", "v^v^vi", [this](Msg& m) -> Value {
    uint64_t dst = m.U(0), src = m.U(1);
    int flags = static_cast<int>(m.I(2));
    if (flags & kFieldIsByref)
      throw ModelError("__block variables are not modelled (_Block_object_assign)");
    uint64_t value = src;
    if (!(flags & kByrefCaller)) {
      if ((flags & kFieldIsBlock) == kFieldIsBlock)
        value = Copy(src);
      else if ((flags & kFieldIsObject) == kFieldIsObject)
        rt_.Retain(src);
    }
    emu_.Write64(dst, value);
    return {};
  });
  rt_.Function("_Block_object_dispose", "v^vi", [this](Msg& m) -> Value {
    int flags = static_cast<int>(m.I(1));
    if (flags & kFieldIsByref)
      throw ModelError("__block variables are not modelled (_Block_object_dispose)");
    if (flags & kByrefCaller) return {};
    if ((flags & kFieldIsBlock) == kFieldIsBlock)
      Release(m.U(0));
    else if ((flags & kFieldIsObject) == kFieldIsObject)
      rt_.Release(m.U(0));
    return {};
  });
}

Blocks::Layout Blocks::Read(uint64_t block, const std::string& receiver) const {
  if (block == 0) throw ModelError(receiver + " of a nil block");
  if (block % 8 != 0 || !emu_.IsMapped(block, 32))
    throw ModelError(receiver + " of " + Hex(block) + ", which is not a block");
  Layout b;
  const uint64_t isa = emu_.Read64(block);
  b.isa = rt_.pac.Strip(isa);
  b.flags = emu_.Read32(block + 8);
  b.descriptor = emu_.Read64(block + 24);
  if (b.isa != stack_class_ && b.isa != global_class_ && b.isa != malloc_class_)
    throw ModelError(receiver + " of " + Hex(block) + ", which is not a block (isa " +
                     emu_.Describe(b.isa) + ")" +
                     (isa == 0xa5a5a5a5a5a5a5a5 ? ": it was freed" : ""));
  const std::string of = " of the block given to " + receiver;
  rt_.pac.Authenticate(isa, kIsaScheme, block, "the isa" + of);
  b.invoke = rt_.pac.Authenticate(emu_.Read64(block + 16), kBlockFunctionScheme, block + 16,
                                  "the invoke pointer" + of);
  if (b.flags & kHasCopyDispose) {
    Helper(b, 2, receiver);
    Helper(b, 3, receiver);
  }
  return b;
}

uint64_t Blocks::DescriptorField(const Layout& b, int index) const {
  return emu_.Read64(b.descriptor + 8 * index);
}

uint64_t Blocks::Helper(const Layout& b, int index, const std::string& receiver) const {
  const uint64_t at = b.descriptor + 8 * index;
  return rt_.pac.Authenticate(emu_.Read64(at), kBlockFunctionScheme, at,
                              std::string(index == 2 ? "the copy helper" : "the dispose helper") +
                                  " of the block given to " + receiver);
}

bool Blocks::IsBlock(uint64_t address) const {
  if (address % 8 != 0 || !emu_.IsMapped(address, 8)) return false;
  uint64_t isa = Isa(address);
  return isa == stack_class_ || isa == global_class_ || isa == malloc_class_;
}

uint64_t Blocks::Make(std::string_view signature, ModelFn fn) {
  Signature sig = ParseSignature(signature);
  if (sig.args.empty() || !sig.args[0].block)
    throw ModelError("a block signature must start with @?: " + std::string(signature));
  std::string name = "model block " + std::to_string(++made_) + " " + std::string(signature);
  rt_.Function(name, signature, std::move(fn));
  uint64_t invoke = *rt_.Resolve(name);
  uint64_t text = emu_.Alloc(signature.size() + 1);
  emu_.Write(text, signature.data(), signature.size());
  uint64_t descriptor = emu_.Alloc(24);
  uint64_t descriptor_words[3] = {0, 32, text};
  emu_.Write(descriptor, descriptor_words, sizeof descriptor_words);
  uint64_t block = emu_.Alloc(32);
  uint32_t flags = kHasSignature | kNeedsFree | 2;
  uint64_t words[4] = {malloc_class_, flags, invoke, descriptor};
  emu_.Write(block, words, sizeof words);
  rt_.pac.SignInPlace(block, kIsaScheme);
  rt_.pac.SignInPlace(block + 16, kBlockFunctionScheme);
  heap_blocks_.insert(block);
  return block;
}

uint64_t Blocks::Copy(uint64_t block, const std::string& receiver) {
  if (block == 0) return 0;
  Layout b = Read(block, receiver);
  ++copies_;
  if (b.isa == global_class_ || (b.flags & kIsGlobal)) return block;
  if (b.isa == malloc_class_) {
    if (!heap_blocks_.count(block))
      throw ModelError("_Block_copy of a heap block the model did not make");
    if ((b.flags & kRefcountMask) == kRefcountMask)
      throw ModelError("block reference count overflow");
    uint32_t flags = b.flags + 2;
    emu_.Write(block + 8, &flags, 4);
    return block;
  }
  uint64_t size = DescriptorField(b, 1);
  if (size < 32 || size > kMaxBlockSize)
    throw ModelError("_Block_copy of " + Hex(block) + ": its descriptor gives the size " +
                     std::to_string(size));
  std::vector<uint8_t> bytes(size);
  emu_.Read(block, bytes.data(), size);
  uint64_t copy = emu_.Alloc(size);
  emu_.Write(copy, bytes.data(), size);
  uint32_t flags = (b.flags & ~(kRefcountMask | 1u)) | kNeedsFree | 2;
  emu_.Write64(copy, malloc_class_);
  emu_.Write(copy + 8, &flags, 4);
  // The heap copy's isa and invoke are signed for their new addresses.
  emu_.Write64(copy + 16, b.invoke);
  rt_.pac.SignInPlace(copy, kIsaScheme);
  rt_.pac.SignInPlace(copy + 16, kBlockFunctionScheme);
  heap_blocks_.insert(copy);
  if (b.flags & kHasCopyDispose) {
    RegisterArgs args;
    args.x[0] = copy;
    args.x[1] = block;
    emu_.Call(Helper(b, 2, receiver), args);
  }
  return copy;
}

void Blocks::Release(uint64_t block) {
  if (block == 0) return;
  Layout b = Read(block, "_Block_release");
  if (b.isa != malloc_class_) return;  // stack and global blocks are not counted
  if (!heap_blocks_.count(block))
    throw ModelError("_Block_release of a heap block the model did not make");
  if ((b.flags & kRefcountMask) == 0)
    throw ModelError("over-release of the block at " + Hex(block));
  uint32_t flags = b.flags - 2;
  emu_.Write(block + 8, &flags, 4);
  if ((flags & kRefcountMask) != 0) return;
  if (b.flags & kHasCopyDispose) {
    RegisterArgs args;
    args.x[0] = block;
    emu_.Call(Helper(b, 3, "_Block_release"), args);
  }
  heap_blocks_.erase(block);
  emu_.Free(block);
}

std::optional<std::string> Blocks::SignatureOf(uint64_t block) const {
  Layout b = Read(block, "the model (reading its signature)");
  if (!(b.flags & kHasSignature)) return std::nullopt;
  uint64_t at = DescriptorField(b, (b.flags & kHasCopyDispose) ? 4 : 2);
  return StripOffsets(emu_.ReadCString(at, 4096));
}

Value Blocks::Invoke(uint64_t block, std::string_view signature, std::vector<Value> args) {
  Layout b = Read(block, "the model (to invoke it)");
  std::string expected = StripOffsets(signature);
  if (auto actual = SignatureOf(block); actual && *actual != expected)
    throw ModelError("the block at " + Hex(block) + " has the signature " + *actual +
                     ", but its caller invokes it as " + expected);
  Signature sig = ParseSignature(expected);
  if (sig.args.empty() || !sig.args[0].block)
    throw ModelError("a block signature must start with @?: " + expected);
  args.insert(args.begin(), Value(block));
  RegisterResult r = emu_.Call(b.invoke, EncodeArgs(sig, args));
  return ReadResult(sig.result, r);
}

std::string Blocks::LeakReport() const {
  std::string report;
  for (uint64_t block : heap_blocks_) {
    uint32_t flags = emu_.Read32(block + 8);
    report += "leaked heap block at " + Hex(block) + " (invoke " +
              emu_.Describe(rt_.pac.Strip(emu_.Read64(block + 16))) + ", references " +
              std::to_string((flags & kRefcountMask) / 2) + ")\n";
  }
  return report;
}

}  // namespace velmo::phone
