// Runtime: the model of the phone's Objective-C runtime that a loaded image
// talks to, and the registry of every import the model provides.
//
// Imports: Function() binds a C function symbol (named without the Mach-O
// leading underscore) to a C++ function that receives its decoded arguments
// (Msg) and returns a Value; Data() binds a data symbol to model-owned
// emulated memory. Resolve() answers the loader.
//
// Classes live in emulated memory (an isa word, the superclass, the name),
// each with a metaclass for class methods. Method tables map selectors to
// IMPs: an IMP is an emulated address, either code in the image
// (class_addMethod, MSHookMessageEx) or a trap that runs a C++ model
// method. DefineClass() makes a model class with a compact builder:
//
//   runtime.DefineClass("LAContext")
//       .Method("canEvaluatePolicy:error:", "B@:q^@",
//               [](Msg& m) -> Value { return m.I(0) == 2; });
//
// Every argument is checked against the method's type encoding before the
// C++ function runs: an object argument must be nil or a live object, a
// selector an interned selector, a BOOL 0 or 1, and no argument may be one
// of the poison values the emulator leaves in clobbered registers (the mark
// of an argument passed in the wrong register class). A send whose selector
// no class in the chain defines fails naming the class and the selector.
// Nothing answers silently, except as the real runtime does: a message to
// nil returns zero, and objc_getClass of an unknown name returns nil (and
// is recorded in missing_classes()).
//
// Objects are heap blocks in emulated memory with an isa; the runtime
// counts their references. Releasing a dead object or one whose count is
// zero fails; LeakReport() lists the objects still alive that are not
// marked immortal, which a test treats as a leak. Autorelease pools are a
// stack. Used from one thread, with one Emulator.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tests/phone/calling.h"
#include "tests/phone/emulator.h"
#include "tests/phone/pointer_auth.h"
#include "tests/phone/type_encoding.h"

namespace velmo::phone {

class Runtime;

// A failure the model detects in what the image does.
class ModelError : public EmulationError {
 public:
  using EmulationError::EmulationError;
};

struct ObjcClass {
  struct Method {
    uint64_t imp = 0;
    std::string types;
  };
  struct Ivar {
    std::string name;
    uint64_t offset = 0, size = 0;
    std::string types;
    uint64_t handle = 0;  // the Ivar pointer handed to the image
  };
  std::string name;
  uint64_t address = 0;  // the class object in emulated memory
  ObjcClass* super = nullptr;
  ObjcClass* meta = nullptr;            // a class's metaclass; nullptr for a metaclass
  ObjcClass* instance_class = nullptr;  // a metaclass's class
  bool registered = true;  // false between objc_allocateClassPair and objc_registerClassPair
  bool made_by_image = false;
  // Instances the runtime does not keep records of (constant strings,
  // blocks): an object is one of them when its isa is this class; retain
  // and release go to foreign_refcount or do nothing.
  bool untracked_instances = false;
  uint64_t instance_size = 8;
  std::map<uint64_t, Method> methods;  // by selector
  std::vector<Ivar> ivars;

  bool is_meta() const { return instance_class != nullptr; }
  bool IsSubclassOf(const ObjcClass* other) const;
};

// A call arriving at a model function: a message (self, _cmd, arguments)
// or a C function's arguments. Arguments are numbered from 0 after self and
// _cmd.
class Msg {
 public:
  Msg(Runtime& rt, const Signature& sig, std::vector<Value> values, bool is_message,
      ObjcClass* found_in);
  Runtime& runtime() const { return rt_; }
  Emulator& emulator() const;
  uint64_t self() const { return is_message_ ? values_[0].u : 0; }
  uint64_t cmd() const { return is_message_ ? values_[1].u : 0; }
  std::string selector() const;
  // The class whose method table held the running method.
  ObjcClass* method_class() const { return found_in_; }
  size_t count() const { return values_.size() - first(); }
  const Value& Arg(size_t i) const;
  uint64_t U(size_t i) const { return Arg(i).u; }
  int64_t I(size_t i) const { return static_cast<int64_t>(Arg(i).u); }
  double D(size_t i) const { return Arg(i).d[0]; }
  bool B(size_t i) const { return Arg(i).u != 0; }
  // An NSString or CFString argument's text (throws when it is not one).
  std::string Str(size_t i) const;
  // A char* argument's text.
  std::string CStr(size_t i) const;
  // The same message sent to the superclass of method_class().
  Value Super(std::vector<Value> args) const;
  Value Super() const;
  const Signature& signature() const { return sig_; }

 private:
  size_t first() const { return is_message_ ? 2 : 0; }
  Runtime& rt_;
  const Signature& sig_;
  std::vector<Value> values_;
  bool is_message_;
  ObjcClass* found_in_;
};

using ModelFn = std::function<Value(Msg&)>;

// Builder returned by DefineClass.
class ClassDef {
 public:
  ClassDef(Runtime& rt, ObjcClass* cls) : rt_(rt), cls_(cls) {}
  ClassDef& Method(std::string_view selector, std::string_view types, ModelFn fn);
  ClassDef& ClassMethod(std::string_view selector, std::string_view types, ModelFn fn);
  // A strong object property: the getter `name` and the setter `setName:`,
  // kept in the object's fields.
  ClassDef& Property(const std::string& name);
  // A scalar property of type `type` ("B", "q", "d", "{CGRect=...}").
  ClassDef& Scalar(const std::string& name, const std::string& type);
  ObjcClass* cls() const { return cls_; }
  uint64_t address() const { return cls_->address; }

 private:
  Runtime& rt_;
  ObjcClass* cls_;
};

// What a model object keeps beside itself when its class stores properties:
// object fields (retained, released with the object), scalar fields, and an
// ordered list of retained items (an array's elements, a view's subviews).
struct ObjectFields {
  std::map<std::string, uint64_t, std::less<>> objects;
  std::map<std::string, Value, std::less<>> values;
  std::vector<uint64_t> items;
};

struct ObjectRecord {
  ObjcClass* cls = nullptr;
  uint64_t retain_count = 1;
  bool alive = true;
  bool immortal = false;
  std::any payload;  // what a model class keeps beside the object (a string's text...)
};

// A hook installed with MSHookMessageEx.
struct HookRecord {
  std::string cls;
  std::string selector;
  uint64_t replacement = 0;
  uint64_t previous = 0;  // 0 when the class had no such method
  uint64_t result_slot = 0;
};

class Runtime {
  Emulator& emu_;

 public:
  explicit Runtime(Emulator& emu);
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;
  Emulator& emulator() const { return emu_; }

  // Imports. `name` is the C name (objc_getClass, _dispatch_main_q).
  void Function(const std::string& name, std::string_view encoding, ModelFn fn);
  void RawFunction(const std::string& name, Emulator::TrapHandler handler);
  void Data(const std::string& name, uint64_t address);
  // The address bound to a Mach-O symbol (leading underscore), if any.
  std::optional<uint64_t> Resolve(const std::string& macho_symbol) const;

  // Selectors: the address of an interned C string.
  uint64_t Sel(std::string_view name);
  bool IsSel(uint64_t sel) const { return selector_names_.count(sel) != 0; }
  std::string SelName(uint64_t sel) const;

  // Classes.
  ClassDef DefineClass(const std::string& name, const std::string& super = "NSObject",
                       uint64_t instance_size = 0);
  ObjcClass* FindClass(std::string_view name) const;  // registered classes only
  ObjcClass* ClassAt(uint64_t address) const;         // a class or metaclass object
  ObjcClass& Class(std::string_view name) const;      // throws when missing
  const std::vector<std::string>& missing_classes() const { return missing_classes_; }

  // Objects.
  uint64_t AllocObject(ObjcClass* cls);    // retain count 1
  ObjectRecord* Object(uint64_t address);  // nullptr when not an object the model made
  // The class a message to `receiver` is looked up in (a metaclass for a
  // class object); throws when `receiver` is not a live object or class.
  ObjcClass* DispatchClass(uint64_t receiver) const;
  // The class of an object or class, for messages; nullptr when `address` is
  // not one.
  ObjcClass* ClassOfObject(uint64_t address) const;
  bool IsObjectLike(uint64_t address) const;
  bool IsKindOf(uint64_t object, std::string_view class_name) const;
  uint64_t Retain(uint64_t object);
  void Release(uint64_t object);
  uint64_t Autorelease(uint64_t object);
  uint64_t RetainCount(uint64_t object) const;
  void SetImmortal(uint64_t object);
  // The fields of a model object (made empty on first use); throws when the
  // object keeps a payload of another kind.
  ObjectFields& Fields(uint64_t object);
  // Stores a retained object field, releasing what it replaces.
  void SetField(uint64_t object, std::string_view name, uint64_t value);
  uint64_t Field(uint64_t object, std::string_view name);  // 0 when unset
  // An instance variable of a class being made or of a model class: its
  // offset, laid out after the superclass's and the class's other ivars.
  uint64_t AddIvar(ObjcClass* cls, const std::string& name, uint64_t size, uint64_t log2_align,
                   const std::string& types);
  uint64_t PushPool();
  void PopPool(uint64_t token);
  size_t pool_depth() const { return pools_.size(); }
  std::vector<uint64_t> LiveObjects() const;  // alive and not immortal
  std::string LeakReport() const;             // "" when nothing leaked
  // The process's signing rules (on in an arm64e process).
  PointerAuth pac{emu_};
  // Checks the code pointers of a block an image hands to a model function
  // or method (set by the blocks model); `what` names the block.
  std::function<void(uint64_t block, const std::string& what)> check_block;
  // Extra retain/release behaviour for objects the model does not track
  // (blocks): returns true when it handled the object.
  std::function<bool(uint64_t, bool retain)> foreign_refcount;

  // Messages from C++. The method's type encoding places the arguments.
  Value Send(uint64_t receiver, std::string_view selector, std::vector<Value> args = {});
  Value SendSuper(uint64_t receiver, ObjcClass* current, std::string_view selector,
                  std::vector<Value> args = {});
  // The IMP a send finds, or 0; sets *found_in to the class that has it.
  uint64_t Lookup(ObjcClass* cls, uint64_t sel, ObjcClass** found_in = nullptr) const;
  // Calls an IMP (model or emulated) with self, _cmd and args.
  Value CallImp(uint64_t imp, const std::string& types, ObjcClass* found_in, uint64_t self,
                uint64_t sel, std::vector<Value> args);
  bool IsModelImp(uint64_t imp) const { return model_imps_.count(imp) != 0; }

  const std::vector<HookRecord>& hooks() const { return hooks_; }
  // The selectors of MSHookMessageEx calls made with a nil class, which
  // change nothing.
  const std::vector<std::string>& nil_class_hooks() const { return nil_class_hooks_; }
  uint64_t sends() const { return sends_; }

  // Text of an NSString-like object; set by the Foundation model, which
  // knows where strings keep it.
  std::function<std::optional<std::string>(uint64_t)> string_value;
  std::string StringValue(uint64_t object) const;

 private:
  friend class ClassDef;
  friend class Msg;
  struct ModelImp {
    ModelFn fn;
    Signature sig;
    std::string name;  // "-[Class sel]" or "function"
    ObjcClass* cls = nullptr;
    bool is_message = true;
  };
  ObjcClass* NewClassPair(const std::string& name, ObjcClass* super, uint64_t instance_size);
  uint64_t AddModelImp(ObjcClass* cls, const std::string& selector, std::string_view types,
                       ModelFn fn, bool is_class_method);
  void RunModelImp(Trap& t, uint64_t imp);
  Value InvokeModel(const ModelImp& mi, std::vector<Value> values);
  void CheckArgs(const ModelImp& mi, const std::vector<Value>& values) const;
  std::string MethodName(uint64_t receiver, uint64_t sel) const;
  void InstallImports();
  void Dealloc(uint64_t object);

  std::map<std::string, uint64_t> symbols_;
  std::unordered_map<std::string, uint64_t> selectors_;
  std::unordered_map<uint64_t, std::string> selector_names_;
  std::vector<std::unique_ptr<ObjcClass>> classes_;
  std::map<std::string, ObjcClass*, std::less<>> classes_by_name_;
  std::unordered_map<uint64_t, ObjcClass*> classes_by_address_;
  std::unordered_map<uint64_t, ObjectRecord> objects_;
  std::unordered_map<uint64_t, ObjcClass::Ivar*> ivars_by_handle_;
  std::unordered_map<uint64_t, ModelImp> model_imps_;
  std::vector<std::vector<uint64_t>> pools_;
  std::vector<HookRecord> hooks_;
  std::vector<std::string> nil_class_hooks_;
  std::vector<std::string> missing_classes_;
  uint64_t sends_ = 0;
};

}  // namespace velmo::phone
