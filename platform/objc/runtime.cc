#include "platform/objc/runtime.h"

#include <cxxabi.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct objc_selector {
  std::string name;
};

struct objc_method {
  SEL name = nullptr;
  std::atomic<IMP> imp{nullptr};
  std::atomic<const std::type_info*> types{nullptr};
};

// A cache: open addressing on the selector's address. A table never changes
// shape once published; entries are added in place while there is room
// (entry first, selector last, so a reader that sees the selector sees its
// entry) and a full or flushed table is replaced by a new one. Replaced
// tables are kept until exit because a reader, or a call site holding one of
// their entries, may still use them.
struct objc_cache_bucket {
  std::atomic<SEL> sel{nullptr};
  objc_cache_entry entry;
};

struct objc_cache {
  explicit objc_cache(uint32_t capacity)
      : mask(capacity - 1), buckets(std::make_unique<objc_cache_bucket[]>(capacity)) {}
  uint32_t mask;
  uint32_t occupied = 0;
  std::unique_ptr<objc_cache_bucket[]> buckets;
};

namespace {

inline uint32_t bucketOf(SEL sel, uint32_t mask) {
  auto v = reinterpret_cast<uintptr_t>(sel);
  return static_cast<uint32_t>((v >> 4) ^ (v >> 12)) & mask;
}

constexpr intptr_t kImmortal = INTPTR_MAX / 2;

}  // namespace

struct objc_ivar {
  std::string name;
  ptrdiff_t offset = 0;
  size_t size = 0;
  std::string types;
};

struct objc_class_data {
  std::string name;
  Class superclass = nullptr;
  bool meta = false;
  std::unordered_map<SEL, std::unique_ptr<objc_method>> methods;  // guarded by the runtime lock
  InstanceCreate create = nullptr;
  InstanceDestroy destroy = nullptr;
  size_t instanceSize = 0;
  std::vector<std::unique_ptr<objc_ivar>> ivars;  // guarded by the runtime lock
  bool registered = false;
};

namespace {

struct Runtime {
  std::mutex lock;
  std::unordered_map<std::string, std::unique_ptr<objc_selector>> selectors;
  std::unordered_map<std::string, Class> classes;  // registered, by name
  std::vector<Class> all;                          // every class and metaclass made
  objc_cache empty{1};
  std::vector<std::unique_ptr<objc_cache>> live;  // tables in use or retired
  std::mutex selector_lock;
};

Runtime& runtime() {
  static Runtime* rt = new Runtime;  // lives as long as the process
  return *rt;
}

// Replaces by the empty table the caches of `cls` and of every class that
// inherits from it: a method of `cls` that changed can only change what they
// answer. Every other class keeps its cache, and its call sites stay filled.
// Caller holds the runtime lock.
void flushCachesLocked(Runtime& rt, Class cls) {
  for (Class c : rt.all) {
    for (Class s = c; s != nullptr; s = s->data->superclass) {
      if (s == cls) {
        c->cache.store(&rt.empty, std::memory_order_release);
        break;
      }
    }
  }
}

// Enters `m` as what `cls` answers to `sel` and returns the entry, in the
// class's current cache or in a larger one that replaces it.
const objc_cache_entry* cacheFillLocked(Runtime& rt, Class cls, SEL sel, Method m) {
  auto* t = const_cast<objc_cache*>(cls->cache.load(std::memory_order_relaxed));
  if ((t->occupied + 1) * 4 > (t->mask + 1) * 3) {
    uint32_t capacity = t == &rt.empty ? 8 : (t->mask + 1) * 2;
    auto grown = std::make_unique<objc_cache>(capacity);
    for (uint32_t i = 0; i <= t->mask; ++i) {
      SEL s = t->buckets[i].sel.load(std::memory_order_relaxed);
      if (s == nullptr) continue;
      uint32_t j = bucketOf(s, grown->mask);
      while (grown->buckets[j].sel.load(std::memory_order_relaxed) != nullptr) {
        j = (j + 1) & grown->mask;
      }
      grown->buckets[j].entry = t->buckets[i].entry;
      grown->buckets[j].entry.cache = grown.get();
      grown->buckets[j].sel.store(s, std::memory_order_relaxed);
      ++grown->occupied;
    }
    t = grown.get();
    rt.live.push_back(std::move(grown));
    cls->cache.store(t, std::memory_order_release);
  }
  uint32_t i = bucketOf(sel, t->mask);
  while (true) {
    SEL s = t->buckets[i].sel.load(std::memory_order_relaxed);
    if (s == sel) return &t->buckets[i].entry;  // another thread filled it first
    if (s == nullptr) break;
    i = (i + 1) & t->mask;
  }
  t->buckets[i].entry = objc_cache_entry{t, sel, m->imp.load(std::memory_order_relaxed),
                                         m->types.load(std::memory_order_relaxed)};
  t->buckets[i].sel.store(sel, std::memory_order_release);
  ++t->occupied;
  return &t->buckets[i].entry;
}

Method findLocked(Class cls, SEL sel) {
  for (Class c = cls; c != nullptr; c = c->data->superclass) {
    auto it = c->data->methods.find(sel);
    if (it != c->data->methods.end()) return it->second.get();
  }
  return nullptr;
}

std::string demangle(const char* name) {
  int status = 0;
  char* out = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string s = status == 0 && out ? out : name;
  std::free(out);
  return s;
}

struct PoolStack {
  std::vector<id> objects;
  ~PoolStack() { objc_autoreleasePoolPop(nullptr); }
};

thread_local PoolStack pools;

}  // namespace

extern "C" {

void objc_fatal(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

SEL sel_registerName(const char* name) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.selector_lock);
  auto& slot = rt.selectors[name];
  if (!slot) slot = std::make_unique<objc_selector>(objc_selector{name});
  return slot.get();
}

const char* sel_getName(SEL sel) { return sel ? sel->name.c_str() : "<null selector>"; }

Class objc_getClass(const char* name) {
  if (name == nullptr) return nullptr;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  auto it = rt.classes.find(name);
  return it == rt.classes.end() ? nullptr : it->second;
}

Class objc_allocateClassPair(Class superclass, const char* name, size_t extraBytes) {
  if (extraBytes != 0) objc_fatal("objc: class %s asks for indexed ivars", name);
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  if (rt.classes.count(name)) objc_fatal("objc: class %s defined twice", name);
  auto make = [&](bool meta) {
    auto* c = new objc_class;  // classes live as long as the process
    c->retain_count.store(kImmortal);
    c->data = new objc_class_data;
    c->data->name = name;
    c->data->meta = meta;
    c->cache.store(&rt.empty);
    rt.all.push_back(c);
    return c;
  };
  Class cls = make(false);
  Class meta = make(true);
  cls->isa = meta;
  cls->data->superclass = superclass;
  if (superclass != nullptr) {
    cls->data->create = superclass->data->create;
    cls->data->destroy = superclass->data->destroy;
    cls->data->instanceSize = superclass->data->instanceSize;
    meta->data->superclass = superclass->isa;
    Class root_meta = superclass->isa;
    while (root_meta->data->superclass != nullptr && root_meta->data->superclass->data->meta) {
      root_meta = root_meta->data->superclass;
    }
    meta->isa = root_meta;
  } else {
    meta->data->superclass = cls;  // a root class's metaclass inherits from it
    meta->isa = meta;
  }
  return cls;
}

void objc_registerClassPair(Class cls) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  rt.classes[cls->data->name] = cls;
  cls->data->registered = true;
}

const char* class_getName(Class cls) { return cls ? cls->data->name.c_str() : "nil"; }
Class class_getSuperclass(Class cls) { return cls ? cls->data->superclass : nullptr; }
BOOL class_isMetaClass(Class cls) { return cls && cls->data->meta; }
Class object_getClass(id obj) { return obj ? obj->isa : nullptr; }

void class_setInstanceFunctions(Class cls, InstanceCreate create, InstanceDestroy destroy,
                                size_t instanceSize) {
  cls->data->create = create;
  cls->data->destroy = destroy;
  cls->data->instanceSize = instanceSize;
}

size_t class_getInstanceSize(Class cls) { return cls ? cls->data->instanceSize : 0; }

BOOL class_addIvar(Class cls, const char* name, size_t size, uint8_t alignment, const char* types) {
  if (cls == nullptr || name == nullptr || alignment > 12) return NO;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  if (cls->data->registered || cls->data->meta) return NO;
  for (const auto& ivar : cls->data->ivars) {
    if (ivar->name == name) return NO;
  }
  size_t align = size_t{1} << alignment;
  size_t offset = (cls->data->instanceSize + align - 1) & ~(align - 1);
  cls->data->ivars.push_back(std::make_unique<objc_ivar>(
      objc_ivar{name, static_cast<ptrdiff_t>(offset), size, types ? types : ""}));
  cls->data->instanceSize = offset + size;
  return YES;
}

Ivar class_getInstanceVariable(Class cls, const char* name) {
  if (name == nullptr) return nullptr;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  for (Class c = cls; c != nullptr; c = c->data->superclass) {
    for (const auto& ivar : c->data->ivars) {
      if (ivar->name == name) return ivar.get();
    }
  }
  return nullptr;
}

ptrdiff_t ivar_getOffset(Ivar ivar) { return ivar ? ivar->offset : 0; }
const char* ivar_getName(Ivar ivar) { return ivar ? ivar->name.c_str() : nullptr; }

id class_createInstance(Class cls) {
  if (cls == nullptr) return nullptr;
  if (cls->data->create == nullptr)
    objc_fatal("objc: class %s cannot make instances", class_getName(cls));
  id obj = cls->data->create(cls->data->instanceSize);
  obj->isa = cls;
  return obj;
}

BOOL class_addMethod(Class cls, SEL sel, IMP imp, const std::type_info& types) {
  if (cls == nullptr) return NO;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  auto& slot = cls->data->methods[sel];
  if (slot) return NO;
  slot = std::make_unique<objc_method>();
  slot->name = sel;
  slot->imp.store(imp);
  slot->types.store(&types);
  flushCachesLocked(rt, cls);  // a subclass may now answer differently than its cache says
  return YES;
}

IMP class_replaceMethod(Class cls, SEL sel, IMP imp, const std::type_info& types) {
  if (cls == nullptr) return nullptr;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  auto& slot = cls->data->methods[sel];
  IMP old = nullptr;
  if (slot) {
    // The method now runs `imp`, so it takes `imp`'s signature too: a send
    // with the old one must fail rather than call through a wrong cast.
    old = slot->imp.exchange(imp);
    slot->types.store(&types);
  } else {
    slot = std::make_unique<objc_method>();
    slot->name = sel;
    slot->imp.store(imp);
    slot->types.store(&types);
  }
  flushCachesLocked(rt, cls);
  return old;
}

Method class_getInstanceMethod(Class cls, SEL sel) {
  if (cls == nullptr) return nullptr;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  return findLocked(cls, sel);
}

Method class_getOwnInstanceMethod(Class cls, SEL sel) {
  if (cls == nullptr) return nullptr;
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  auto it = cls->data->methods.find(sel);
  return it == cls->data->methods.end() ? nullptr : it->second.get();
}

BOOL class_respondsToSelector(Class cls, SEL sel) {
  return class_getInstanceMethod(cls, sel) != nullptr;
}

IMP method_getImplementation(Method m) { return m->imp.load(std::memory_order_acquire); }

}  // extern "C"

const std::type_info& method_getTypes(Method m) {
  return *m->types.load(std::memory_order_acquire);
}

namespace {

[[noreturn]] void wrongSignature(Class cls, SEL sel, const std::type_info& defined,
                                 const std::type_info& used) {
  objc_fatal("objc: %c[%s %s] is defined as %s but was used as %s", cls->data->meta ? '+' : '-',
             class_getName(cls), sel_getName(sel), demangle(defined.name()).c_str(),
             demangle(used.name()).c_str());
}

}  // namespace

void objc_checkTypes(Method m, Class cls, SEL sel, const std::type_info& types) {
  const std::type_info* defined = m->types.load(std::memory_order_acquire);
  if (defined != &types && *defined != types) wrongSignature(cls, sel, *defined, types);
}

namespace objc {

void declareIvar(Class cls, const char* name, ptrdiff_t offset, size_t size, const char* types) {
  Runtime& rt = runtime();
  std::lock_guard<std::mutex> g(rt.lock);
  cls->data->ivars.push_back(std::make_unique<objc_ivar>(objc_ivar{name, offset, size, types}));
}

const objc_cache_entry* lookUp(Class cls, SEL sel, id receiver, const std::type_info& types) {
  const objc_cache_entry* e = nullptr;
  const objc_cache* t = cls->cache.load(std::memory_order_acquire);
  for (uint32_t i = bucketOf(sel, t->mask);; i = (i + 1) & t->mask) {
    SEL s = t->buckets[i].sel.load(std::memory_order_acquire);
    if (s == sel) {
      e = &t->buckets[i].entry;
      break;
    }
    if (s == nullptr) break;
  }
  if (e == nullptr) {
    Runtime& rt = runtime();
    std::lock_guard<std::mutex> g(rt.lock);
    if (Method m = findLocked(cls, sel)) e = cacheFillLocked(rt, cls, sel, m);
  }
  if (e == nullptr) {
    objc_fatal("objc: unrecognized selector %c[%s %s] sent to %s %p", cls->data->meta ? '+' : '-',
               class_getName(cls), sel_getName(sel), cls->data->meta ? "class" : "instance",
               (void*)receiver);
  }
  if (e->types != &types && *e->types != types) wrongSignature(cls, sel, *e->types, types);
  return e;
}

}  // namespace objc

extern "C" {

id objc_retain(id obj) {
  if (obj == nullptr) return obj;
  if (obj->retain_count.load(std::memory_order_relaxed) >= kImmortal) return obj;
  obj->retain_count.fetch_add(1, std::memory_order_relaxed);
  return obj;
}

void objc_release(id obj) {
  if (obj == nullptr) return;
  if (obj->retain_count.load(std::memory_order_relaxed) >= kImmortal) return;
  intptr_t before = obj->retain_count.fetch_sub(1, std::memory_order_acq_rel);
  if (before == 1) {
    Class cls = obj->isa;
    static const SEL dealloc = sel_registerName("dealloc");
    if (class_respondsToSelector(cls, dealloc)) {
      static const std::type_info& deallocTypes = typeid(void());
      reinterpret_cast<void (*)(id, SEL)>(objc::lookUp(cls, dealloc, obj, deallocTypes)->imp)(
          obj, dealloc);
      return;
    }
    objc_destroyInstance(obj);
  } else if (before <= 0) {
    objc_fatal("objc: over-release of %s %p", class_getName(obj->isa), (void*)obj);
  }
}

void objc_destroyInstance(id obj) {
  Class cls = obj->isa;
  if (cls->data->destroy == nullptr)
    objc_fatal("objc: %s has no destroy function", class_getName(cls));
  cls->data->destroy(obj);
}

intptr_t objc_retainCount(id obj) { return obj ? obj->retain_count.load() : 0; }

void objc_makeImmortal(id obj) {
  if (obj) obj->retain_count.store(kImmortal);
}

id objc_autorelease(id obj) {
  if (obj != nullptr) pools.objects.push_back(obj);
  return obj;
}

void* objc_autoreleasePoolPush() {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(pools.objects.size()));
}

void objc_autoreleasePoolPop(void* token) {
  auto depth = static_cast<size_t>(reinterpret_cast<uintptr_t>(token));
  // Releasing may autorelease more objects; they are drained too.
  while (pools.objects.size() > depth) {
    id obj = pools.objects.back();
    pools.objects.pop_back();
    objc_release(obj);
  }
}

}  // extern "C"
