// Blocks with the phone's block layout, made from C++ lambdas:
//
//   { isa, flags, reserved, invoke, descriptor, captured state }
//
// with a descriptor { reserved, size, copy helper, dispose helper,
// signature }. makeBlock builds the literal on the stack, as the compiler
// does, and hands it to _Block_copy, which moves it to the heap and calls the
// copy helper: the lambda (and every Strong it captured) is copied with its
// copy constructor and destroyed by the dispose helper when the last
// reference goes. A caller invokes a block as block->invoke(block, args...).
//
//   Strong<Block<void(BOOL)>> done = makeBlock<void(BOOL)>([keep](BOOL ok) { ... });
//   msg<void>(vc, "authenticateWithCompletion:"_sel, done.get());
//   block_cast<void(BOOL)>(arg)->call(YES);
//
// Thread safety: a block may be called from any thread; what it captures is
// the caller's business.
#pragma once

#include "runtime/encoding.h"
#include "runtime/objc.h"
#include "runtime/ptrauth.h"
#include "runtime/strong.h"

struct BlockDescriptor {
  unsigned long reserved;
  unsigned long size;
  void (*VELMO_BLOCK_FUNCTION copy)(void* destination, const void* source);
  void (*VELMO_BLOCK_FUNCTION dispose)(const void* block);
  const char* signature;
};

extern "C" {
extern void* _NSConcreteStackBlock[32];
void* _Block_copy(const void* block);
void _Block_release(const void* block);
}

template <class Sig>
struct Block;

template <class R, class... A>
struct Block<R(A...)> : objc_object {
  int flags;
  int reserved;
  R (*VELMO_BLOCK_FUNCTION invoke)(Block*, A...);
  const BlockDescriptor* descriptor;

  R call(A... args) { return invoke(this, args...); }
};

namespace objc {

inline constexpr int kBlockHasCopyDispose = 1 << 25;
inline constexpr int kBlockHasCxxObject = 1 << 26;
inline constexpr int kBlockHasSignature = 1 << 30;

template <class Sig, class F>
struct BlockLiteral;

template <class R, class... A, class F>
struct BlockLiteral<R(A...), F> : Block<R(A...)> {
  F body;

  explicit BlockLiteral(F&& f) : body(static_cast<F&&>(f)) {
    this->isa = signIsa(_NSConcreteStackBlock, &this->isa);
    this->flags = kBlockHasCopyDispose | kBlockHasCxxObject | kBlockHasSignature;
    this->reserved = 0;
    this->invoke = &invokeBody;
    this->descriptor = &kDescriptor;
  }

  static R invokeBody(Block<R(A...)>* self, A... args) {
    return static_cast<BlockLiteral*>(self)->body(args...);
  }
  static void copyBody(void* destination, const void* source) {
    new (&static_cast<BlockLiteral*>(destination)->body)
        F(static_cast<const BlockLiteral*>(source)->body);
  }
  static void disposeBody(const void* block) {
    const_cast<BlockLiteral*>(static_cast<const BlockLiteral*>(block))->body.~F();
  }
  static constexpr BlockDescriptor kDescriptor{0, sizeof(BlockLiteral), &copyBody, &disposeBody,
                                               kBlockEncoding<R, A...>.text};
};

}  // namespace objc

// Makes a heap block owned by the returned Strong.
template <class Sig, class F>
Strong<Block<Sig>> makeBlock(F body) {
  objc::BlockLiteral<Sig, F> literal(static_cast<F&&>(body));
  return adopt(static_cast<Block<Sig>*>(_Block_copy(&literal)));
}

// A block argument as the signature its method declares.
template <class Sig>
Block<Sig>* block_cast(id obj) {
  return reinterpret_cast<Block<Sig>*>(obj);
}

// Keeps a block that was passed in: a stack block is copied to the heap, a
// heap block gains a reference.
template <class Sig>
Strong<Block<Sig>> copyBlock(Block<Sig>* block) {
  return adopt(static_cast<Block<Sig>*>(_Block_copy(block)));
}
