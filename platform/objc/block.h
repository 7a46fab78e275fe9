// Blocks: closures that are objects. A block keeps what it captures alive for
// as long as it lives (capture Strong<T> for objects); copying a block is a
// retain. A block knows its C++ signature, and block_cast checks it, so a
// block called with the wrong argument types fails loudly instead of running
// through a wrong cast.
//
//   Strong<Block<void(BOOL)>> done = makeBlock<void(BOOL)>([keep](BOOL ok) { ... });
//   msg<void>(vc, "authenticateWithCompletion:"_sel, done.get());
//   block_cast<void(BOOL)>(arg)->call(YES);
//
// Thread safety: a block may be called from any thread; what it captures is
// the caller's business.
#pragma once

#include <functional>
#include <typeinfo>
#include <utility>

#include "platform/objc/runtime.h"
#include "platform/objc/strong.h"

struct BlockBase : objc_object {
  const std::type_info* signature = nullptr;
  void (*dispose)(BlockBase*) = nullptr;
};

template <class Sig>
struct Block;

template <class R, class... A>
struct Block<R(A...)> : BlockBase {
  std::function<R(A...)> body;
  R call(A... args) const { return body(std::forward<A>(args)...); }
};

namespace objc {
Class blockClass();  // the class every block belongs to
}

// Makes a block owned by the returned Strong.
template <class Sig, class F>
Strong<Block<Sig>> makeBlock(F&& body) {
  auto* b = new Block<Sig>();
  b->isa = objc::blockClass();
  b->signature = &typeid(Sig);
  b->dispose = [](BlockBase* self) { delete static_cast<Block<Sig>*>(self); };
  b->body = std::forward<F>(body);
  return adopt(b);
}

// Checks that `obj` is a block of signature Sig and returns it typed; aborts
// on any other object. nullptr stays nullptr.
template <class Sig>
Block<Sig>* block_cast(id obj) {
  if (obj == nullptr) return nullptr;
  if (obj->isa != objc::blockClass()) objc_fatal("objc: object %p is not a block", (void*)obj);
  auto* b = static_cast<BlockBase*>(obj);
  if (*b->signature != typeid(Sig)) {
    objc_fatal("objc: block of signature %s called as %s", b->signature->name(),
               typeid(Sig).name());
  }
  return static_cast<Block<Sig>*>(b);
}
