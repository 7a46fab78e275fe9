// The Objective-C runtime's C functions, bound as imports of a loaded image:
// lookups, message dispatch, reference counting, class creation and
// MSHookMessageEx.
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {
namespace {

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

}  // namespace

void Runtime::InstallImports() {
  Function("objc_getClass", "#r*", [this](Msg& m) -> Value {
    std::string name = m.CStr(0);
    ObjcClass* c = FindClass(name);
    if (!c) missing_classes_.push_back(name);
    return c ? c->address : 0;
  });
  Function("objc_getMetaClass", "#r*", [this](Msg& m) -> Value {
    ObjcClass* c = FindClass(m.CStr(0));
    return c ? c->meta->address : 0;
  });
  Function("sel_registerName", ":r*", [this](Msg& m) -> Value { return Sel(m.CStr(0)); });
  Function("sel_getName", "r*:", [this](Msg& m) -> Value {
    SelName(m.U(0));
    return m.U(0);  // a selector is its interned name
  });
  Function("object_getClass", "#@", [this](Msg& m) -> Value {
    ObjcClass* c = ClassOfObject(m.U(0));
    return c ? c->address : 0;
  });
  Function("class_getSuperclass", "##", [this](Msg& m) -> Value {
    ObjcClass* c = ClassAt(m.U(0));
    return c && c->super ? c->super->address : 0;
  });
  Function("class_getName", "r*#", [this](Msg& m) -> Value {
    ObjcClass* c = ClassAt(m.U(0));
    if (!c) return 0;
    return emulator().Read64(c->address + 16);
  });

  // Dispatch: the IMP found is entered with the registers as the caller
  // left them, as the real objc_msgSend does; a model IMP is a trap and
  // decodes them by its own type encoding.
  RawFunction("objc_msgSend", [this](Trap& t) {
    uint64_t self = t.x(0), sel = t.x(1);
    if (self == 0) {
      t.Return2(0, 0);
      t.ReturnDouble({0, 0, 0, 0}, 4);
      return;
    }
    if (!IsSel(sel))
      throw ModelError("objc_msgSend to " + Hex(self) + " with " + Hex(sel) +
                       ", which is not a selector");
    uint64_t imp = Lookup(DispatchClass(self), sel);
    if (!imp)
      throw ModelError(MethodName(self, sel) +
                       ": unrecognized selector (the model does not define it)");
    ++sends_;
    t.Jump(imp);
  });
  RawFunction("objc_msgSendSuper2", [this](Trap& t) {
    uint64_t super = t.x(0), sel = t.x(1);
    uint64_t receiver = emulator().Read64(super);
    ObjcClass* current = ClassAt(emulator().Read64(super + 8));
    if (!current) throw ModelError("objc_msgSendSuper2 with a class field that is not a class");
    if (!IsSel(sel))
      throw ModelError("objc_msgSendSuper2 with " + Hex(sel) + ", which is not a selector");
    if (receiver == 0) {
      t.Return2(0, 0);
      t.ReturnDouble({0, 0, 0, 0}, 4);
      return;
    }
    uint64_t imp = current->super ? Lookup(current->super, sel) : 0;
    if (!imp)
      throw ModelError("[super " + SelName(sel) + "] from " + current->name +
                       ": unrecognized selector (the model does not define it)");
    ++sends_;
    t.SetX(0, receiver);
    t.Jump(imp);
  });

  // [cls alloc], as the compiler writes it for the runtime of iOS 13 and later.
  Function("objc_alloc", "@#",
           [this](Msg& m) -> Value { return m.U(0) == 0 ? Value{} : Send(m.U(0), "alloc"); });
  Function("objc_retain", "@@", [this](Msg& m) -> Value { return Retain(m.U(0)); });
  Function("objc_release", "v@", [this](Msg& m) -> Value {
    Release(m.U(0));
    return {};
  });
  Function("objc_autorelease", "@@", [this](Msg& m) -> Value { return Autorelease(m.U(0)); });
  Function("objc_autoreleasePoolPush", "^v", [this](Msg&) -> Value { return PushPool(); });
  Function("objc_autoreleasePoolPop", "v^v", [this](Msg& m) -> Value {
    PopPool(m.U(0));
    return {};
  });
  Function("CFRetain", "@@", [this](Msg& m) -> Value {
    if (m.U(0) == 0) throw ModelError("CFRetain(NULL)");
    return Retain(m.U(0));
  });
  Function("CFRelease", "v@", [this](Msg& m) -> Value {
    if (m.U(0) == 0) throw ModelError("CFRelease(NULL)");
    Release(m.U(0));
    return {};
  });

  // Classes made at load.
  Function("objc_allocateClassPair", "##r*Q", [this](Msg& m) -> Value {
    std::string name = m.CStr(1);
    if (classes_by_name_.count(name)) return 0;
    ObjcClass* super = ClassAt(m.U(0));
    if (m.U(0) != 0 && (!super || super->is_meta()))
      throw ModelError("objc_allocateClassPair: bad superclass");
    ObjcClass* c = NewClassPair(name, super, 0);
    c->registered = false;
    c->made_by_image = true;
    return c->address;
  });
  Function("class_addIvar", "B#r*QCr*", [this](Msg& m) -> Value {
    ObjcClass* c = ClassAt(m.U(0));
    if (!c || c->is_meta() || c->registered) return false;
    std::string name = m.CStr(1);
    uint64_t size = m.U(2), log2_align = m.U(3) & 0xff;
    if (log2_align > 4 || size == 0 || size > (1 << 20)) return false;
    for (const auto& ivar : c->ivars)
      if (ivar.name == name) return false;
    AddIvar(c, name, size, log2_align, m.CStr(4));
    return true;
  });
  Function("class_addMethod", "B#:^?r*", [this](Msg& m) -> Value {
    // Nil, as objc_getClass gives it in a process without the class: NO.
    if (m.U(0) == 0) return false;
    ObjcClass* c = ClassAt(m.U(0));
    if (!c) throw ModelError("class_addMethod on something that is not a class");
    uint64_t sel = m.U(1), imp = m.U(2);
    if (sel == 0 || imp == 0) throw ModelError("class_addMethod with a nil selector or IMP");
    std::string types = m.CStr(3);
    std::string name = std::string(c->is_meta() ? "+[" : "-[") + c->name + " " + SelName(sel) + "]";
    // The method table keeps the plain address; a send enters it directly.
    imp = pac.Authenticate(imp, kFunctionPointerScheme, 0,
                           "the IMP given to class_addMethod for " + name);
    Signature sig;
    try {
      sig = ParseSignature(types);
    } catch (const EmulationError& e) {
      throw ModelError("class_addMethod " + name + ": " + e.what());
    }
    if (sig.args.size() < 2 || sig.args[1].code != ':')
      throw ModelError("class_addMethod " + name + ": types \"" + types + "\" lack self and _cmd");
    if (c->methods.count(sel)) return false;
    c->methods[sel] = {imp, types};
    return true;
  });
  Function("objc_registerClassPair", "v#", [this](Msg& m) -> Value {
    ObjcClass* c = ClassAt(m.U(0));
    if (!c || c->is_meta() || c->registered)
      throw ModelError("objc_registerClassPair of a class not being made");
    c->registered = true;
    return {};
  });
  Function("class_getInstanceVariable", "^v#r*", [this](Msg& m) -> Value {
    std::string name = m.CStr(1);
    for (ObjcClass* c = ClassAt(m.U(0)); c; c = c->super)
      for (const auto& ivar : c->ivars)
        if (ivar.name == name) return ivar.handle;
    return 0;
  });
  Function("ivar_getOffset", "q^v", [this](Msg& m) -> Value {
    auto it = ivars_by_handle_.find(m.U(0));
    if (it == ivars_by_handle_.end())
      throw ModelError("ivar_getOffset of " + Hex(m.U(0)) + ", which is not an Ivar");
    return it->second->offset;
  });

  // The hooking runtime: the previous IMP goes into *result before the
  // replacement is installed; a nil class changes nothing.
  Function("MSHookMessageEx", "v#:^?^^?", [this](Msg& m) -> Value {
    if (m.U(0) == 0) {
      nil_class_hooks_.push_back(SelName(m.U(1)));
      return {};
    }
    ObjcClass* c = ClassAt(m.U(0));
    if (!c) throw ModelError("MSHookMessageEx of " + Hex(m.U(0)) + ", which is not a class");
    uint64_t sel = m.U(1), replacement = m.U(2), result = m.U(3);
    if (replacement == 0) throw ModelError("MSHookMessageEx with a nil replacement");
    replacement = pac.Authenticate(
        replacement, kFunctionPointerScheme, 0,
        "the replacement IMP given to MSHookMessageEx for " + c->name + " " + SelName(sel));
    ObjcClass* found = nullptr;
    uint64_t previous = Lookup(c, sel, &found);
    HookRecord record{c->name, SelName(sel), replacement, previous, result};
    if (previous != 0) c->methods[sel] = {replacement, found->methods.at(sel).types};
    // The original goes into the slot signed as a plain function pointer,
    // which a call through the slot authenticates; a missing one stays 0.
    if (result != 0)
      emulator().Write64(result,
                         previous ? pac.Sign(previous, kFunctionPointerScheme, 0) : previous);
    hooks_.push_back(record);
    return {};
  });
}

}  // namespace velmo::phone
