#include "tests/phone/objc_runtime.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace velmo::phone {
namespace {

constexpr uint64_t kPoolTokenBase = 0x50000000;

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
  return text;
}

std::string ArgName(bool is_message, size_t i) {
  if (is_message && i == 0) return "self";
  if (is_message && i == 1) return "_cmd";
  return "argument " + std::to_string(is_message ? i - 2 : i);
}

}  // namespace

bool ObjcClass::IsSubclassOf(const ObjcClass* other) const {
  for (const ObjcClass* c = this; c; c = c->super)
    if (c == other) return true;
  return false;
}

// ---- Msg ----

Msg::Msg(Runtime& rt, const Signature& sig, std::vector<Value> values, bool is_message,
         ObjcClass* found_in)
    : rt_(rt),
      sig_(sig),
      values_(std::move(values)),
      is_message_(is_message),
      found_in_(found_in) {}

Emulator& Msg::emulator() const { return rt_.emulator(); }

std::string Msg::selector() const { return is_message_ ? rt_.SelName(cmd()) : std::string(); }

const Value& Msg::Arg(size_t i) const {
  if (i + first() >= values_.size())
    throw ModelError("the model read argument " + std::to_string(i) + " of a call with signature " +
                     sig_.text);
  return values_[i + first()];
}

std::string Msg::Str(size_t i) const { return rt_.StringValue(U(i)); }
std::string Msg::CStr(size_t i) const { return rt_.emulator().ReadCString(U(i)); }

Value Msg::Super(std::vector<Value> args) const {
  if (!is_message_) throw ModelError("Super() outside a method");
  return rt_.SendSuper(self(), found_in_, selector(), std::move(args));
}

Value Msg::Super() const {
  std::vector<Value> args(values_.begin() + 2, values_.end());
  return Super(std::move(args));
}

// ---- ClassDef ----

ClassDef& ClassDef::Method(std::string_view selector, std::string_view types, ModelFn fn) {
  rt_.AddModelImp(cls_, std::string(selector), types, std::move(fn), false);
  return *this;
}

ClassDef& ClassDef::ClassMethod(std::string_view selector, std::string_view types, ModelFn fn) {
  rt_.AddModelImp(cls_, std::string(selector), types, std::move(fn), true);
  return *this;
}

ClassDef& ClassDef::Property(const std::string& name) {
  std::string setter = "set" + name + ":";
  setter[3] = static_cast<char>(toupper(static_cast<unsigned char>(setter[3])));
  Method(name, "@@:", [rt = &rt_, name](Msg& m) -> Value { return rt->Field(m.self(), name); });
  return Method(setter, "v@:@", [rt = &rt_, name](Msg& m) -> Value {
    rt->SetField(m.self(), name, m.U(0));
    return {};
  });
}

ClassDef& ClassDef::Scalar(const std::string& name, const std::string& type) {
  std::string setter = "set" + name + ":";
  setter[3] = static_cast<char>(toupper(static_cast<unsigned char>(setter[3])));
  Method(name, type + "@:", [rt = &rt_, name](Msg& m) -> Value {
    const auto& values = rt->Fields(m.self()).values;
    auto it = values.find(name);
    return it == values.end() ? Value() : it->second;
  });
  return Method(setter, "v@:" + type, [rt = &rt_, name](Msg& m) -> Value {
    rt->Fields(m.self()).values[name] = m.Arg(0);
    return {};
  });
}

// ---- Runtime ----

Runtime::Runtime(Emulator& emu) : emu_(emu) {
  NewClassPair("NSObject", nullptr, 8);
  DefineClass("NSObject", "")
      .ClassMethod("alloc",
                   "@#:", [this](Msg& m) -> Value { return AllocObject(ClassAt(m.self())); })
      .ClassMethod("new", "@#:",
                   [this](Msg& m) -> Value {
                     uint64_t object = AllocObject(ClassAt(m.self()));
                     return Send(object, "init");
                   })
      .ClassMethod("class", "#@:", [](Msg& m) -> Value { return m.self(); })
      .Method("init", "@@:", [](Msg& m) -> Value { return m.self(); })
      .Method("self", "@@:", [](Msg& m) -> Value { return m.self(); })
      .Method("class", "#@:",
              [this](Msg& m) -> Value {
                ObjcClass* c = ClassOfObject(m.self());
                return c->is_meta() ? c->instance_class->address : c->address;
              })
      .Method("retain", "@@:", [this](Msg& m) -> Value { return Retain(m.self()); })
      .Method("release", "v@:",
              [this](Msg& m) -> Value {
                Release(m.self());
                return {};
              })
      .Method("autorelease", "@@:", [this](Msg& m) -> Value { return Autorelease(m.self()); })
      .Method("retainCount", "Q@:", [this](Msg& m) -> Value { return RetainCount(m.self()); })
      .Method("isKindOfClass:", "B@:#",
              [this](Msg& m) -> Value {
                ObjcClass* c = ClassOfObject(m.self());
                ObjcClass* other = ClassAt(m.U(0));
                return other != nullptr && c->IsSubclassOf(other);
              })
      .Method("respondsToSelector:", "B@::",
              [this](Msg& m) -> Value { return Lookup(ClassOfObject(m.self()), m.U(0)) != 0; })
      .Method("dealloc", "v@:", [this](Msg& m) -> Value {
        Dealloc(m.self());
        return {};
      });
  InstallImports();
}

ObjcClass* Runtime::NewClassPair(const std::string& name, ObjcClass* super,
                                 uint64_t instance_size) {
  auto cls = std::make_unique<ObjcClass>();
  auto meta = std::make_unique<ObjcClass>();
  cls->name = meta->name = name;
  cls->super = super;
  cls->meta = meta.get();
  meta->instance_class = cls.get();
  // The root metaclass inherits from the root class, as in the real runtime.
  meta->super = super ? super->meta : cls.get();
  cls->instance_size = std::max<uint64_t>(instance_size, super ? super->instance_size : 8);
  uint64_t name_address = emu_.Alloc(name.size() + 1);
  emu_.Write(name_address, name.c_str(), name.size() + 1);
  meta->address = emu_.Alloc(64);
  cls->address = emu_.Alloc(64);
  ObjcClass* root_meta = super ? super->meta : meta.get();
  while (root_meta->super && root_meta->super->is_meta()) root_meta = root_meta->super;
  uint64_t cls_words[3] = {meta->address, super ? super->address : 0, name_address};
  uint64_t meta_words[3] = {root_meta->address, meta->super->address, name_address};
  emu_.Write(cls->address, cls_words, sizeof cls_words);
  emu_.Write(meta->address, meta_words, sizeof meta_words);
  ObjcClass* result = cls.get();
  classes_by_address_[cls->address] = cls.get();
  classes_by_address_[meta->address] = meta.get();
  classes_by_name_[name] = cls.get();
  classes_.push_back(std::move(cls));
  classes_.push_back(std::move(meta));
  return result;
}

ClassDef Runtime::DefineClass(const std::string& name, const std::string& super,
                              uint64_t instance_size) {
  auto it = classes_by_name_.find(name);
  if (it != classes_by_name_.end()) return ClassDef(*this, it->second);
  ObjcClass* parent = nullptr;
  if (!super.empty()) parent = &Class(super);
  return ClassDef(*this, NewClassPair(name, parent, instance_size));
}

ObjcClass* Runtime::FindClass(std::string_view name) const {
  auto it = classes_by_name_.find(name);
  return it != classes_by_name_.end() && it->second->registered ? it->second : nullptr;
}

ObjcClass& Runtime::Class(std::string_view name) const {
  ObjcClass* c = FindClass(name);
  if (!c) throw ModelError("the model has no class " + std::string(name));
  return *c;
}

ObjcClass* Runtime::ClassAt(uint64_t address) const {
  auto it = classes_by_address_.find(address);
  return it == classes_by_address_.end() ? nullptr : it->second;
}

uint64_t Runtime::AddModelImp(ObjcClass* cls, const std::string& selector, std::string_view types,
                              ModelFn fn, bool is_class_method) {
  ObjcClass* target = is_class_method ? cls->meta : cls;
  if (!target) throw ModelError("class methods of a metaclass");
  ModelImp mi;
  mi.fn = std::move(fn);
  mi.sig = ParseSignature(types);
  mi.name = std::string(is_class_method ? "+[" : "-[") + cls->name + " " + selector + "]";
  mi.cls = target;
  if (mi.sig.args.size() < 2 || mi.sig.args[1].code != ':')
    throw ModelError(mi.name + ": the type encoding " + std::string(types) +
                     " lacks self and _cmd");
  auto holder = std::make_shared<uint64_t>(0);
  uint64_t imp = emu_.AddTrap(mi.name, [this, holder](Trap& t) { RunModelImp(t, *holder); });
  *holder = imp;
  model_imps_[imp] = std::move(mi);
  target->methods[Sel(selector)] = {imp, std::string(types)};
  return imp;
}

void Runtime::Function(const std::string& name, std::string_view encoding, ModelFn fn) {
  ModelImp mi;
  mi.fn = std::move(fn);
  mi.sig = ParseSignature(encoding);
  mi.name = name;
  mi.is_message = false;
  auto holder = std::make_shared<uint64_t>(0);
  uint64_t imp = emu_.AddTrap(name, [this, holder](Trap& t) { RunModelImp(t, *holder); });
  *holder = imp;
  model_imps_[imp] = std::move(mi);
  symbols_[name] = imp;
}

void Runtime::RawFunction(const std::string& name, Emulator::TrapHandler handler) {
  symbols_[name] = emu_.AddTrap(name, std::move(handler));
}

void Runtime::Data(const std::string& name, uint64_t address) { symbols_[name] = address; }

std::optional<uint64_t> Runtime::Resolve(const std::string& macho_symbol) const {
  std::string name =
      !macho_symbol.empty() && macho_symbol[0] == '_' ? macho_symbol.substr(1) : macho_symbol;
  auto it = symbols_.find(name);
  if (it == symbols_.end()) return std::nullopt;
  return it->second;
}

uint64_t Runtime::Sel(std::string_view name) {
  auto it = selectors_.find(std::string(name));
  if (it != selectors_.end()) return it->second;
  uint64_t address = emu_.Alloc(name.size() + 1);
  emu_.Write(address, name.data(), name.size());
  selectors_[std::string(name)] = address;
  selector_names_[address] = std::string(name);
  return address;
}

std::string Runtime::SelName(uint64_t sel) const {
  auto it = selector_names_.find(sel);
  if (it == selector_names_.end()) throw ModelError(Hex(sel) + " is not a selector");
  return it->second;
}

void Runtime::RunModelImp(Trap& t, uint64_t imp) {
  const ModelImp& mi = model_imps_.at(imp);
  Value v = InvokeModel(mi, DecodeArgs(t, mi.sig));
  WriteResult(t, mi.sig.result, v);
}

Value Runtime::InvokeModel(const ModelImp& mi, std::vector<Value> values) {
  if (values.size() != mi.sig.args.size())
    throw ModelError(mi.name + " takes " + std::to_string(mi.sig.args.size()) + " arguments (" +
                     mi.sig.text + "), given " + std::to_string(values.size()));
  CheckArgs(mi, values);
  Msg m(*this, mi.sig, std::move(values), mi.is_message, mi.cls);
  return mi.fn(m);
}

void Runtime::CheckArgs(const ModelImp& mi, const std::vector<Value>& values) const {
  for (size_t i = 0; i < values.size(); ++i) {
    const TypeCode& t = mi.sig.args[i];
    const Value& v = values[i];
    auto fail = [&](const std::string& why) {
      throw ModelError(mi.name + ": " + ArgName(mi.is_message, i) + " (type " + t.text + ") " +
                       why);
    };
    switch (t.cls) {
      case TypeCode::Class::kInteger:
        if (IsPoisonX(v.u2))
          fail("was never set by the caller (a clobbered register: passed as another type?)");
        if (t.code == 'B' && (v.u2 & 0xffffffff) > 1) fail("is not a BOOL: " + Hex(v.u2));
        if (t.code == '@' && v.u != 0) {
          if (const auto it = objects_.find(v.u); it != objects_.end() && !it->second.alive)
            fail("is a deallocated " + it->second.cls->name + " at " + Hex(v.u));
          if (!IsObjectLike(v.u)) fail("is not an object: " + Hex(v.u));
          if (t.block) {
            ObjcClass* c = ClassOfObject(v.u);
            if (c->name.find("Block") == std::string::npos) fail("is not a block but a " + c->name);
            if (check_block) check_block(v.u, mi.name);
          }
        }
        if (t.code == '#' && v.u != 0 && !ClassAt(v.u)) fail("is not a class: " + Hex(v.u));
        if (t.code == ':' && v.u != 0 && !IsSel(v.u)) fail("is not a selector: " + Hex(v.u));
        break;
      case TypeCode::Class::kFloat:
      case TypeCode::Class::kDouble:
        if (IsPoisonD(v.d[0])) fail("was never set by the caller (passed in a general register?)");
        break;
      case TypeCode::Class::kDoubles:
        for (int k = 0; k < t.doubles; ++k)
          if (IsPoisonD(v.d[k])) fail("was never set by the caller (passed in general registers?)");
        break;
      case TypeCode::Class::kIntegerPair:
        if (IsPoisonX(v.u) || IsPoisonX(v.u2)) fail("was never set by the caller");
        break;
      case TypeCode::Class::kVoid:
        break;
    }
  }
}

// ---- objects ----

uint64_t Runtime::AllocObject(ObjcClass* cls) {
  if (!cls || cls->is_meta()) throw ModelError("alloc of something that is not a class");
  if (!cls->registered)
    throw ModelError("alloc of " + cls->name + " before objc_registerClassPair");
  uint64_t object = emu_.Alloc(cls->instance_size);
  emu_.Write64(object, cls->address);
  ObjectRecord rec;
  rec.cls = cls;
  objects_[object] = std::move(rec);
  return object;
}

ObjectRecord* Runtime::Object(uint64_t address) {
  auto it = objects_.find(address);
  return it == objects_.end() ? nullptr : &it->second;
}

ObjcClass* Runtime::ClassOfObject(uint64_t address) const {
  if (address == 0) return nullptr;
  if (ObjcClass* c = ClassAt(address)) {
    if (!c->is_meta()) return c->meta;
    ObjcClass* root = c;
    while (root->super && root->super->is_meta()) root = root->super;
    return root;
  }
  if (auto it = objects_.find(address); it != objects_.end())
    return it->second.alive ? it->second.cls : nullptr;
  if (address % 8 != 0 || !emu_.IsMapped(address, 8)) return nullptr;
  // Constant strings and blocks carry their isa signed (DA, blended with
  // the isa's address, 0x6AE1); the runtime authenticates it on use.
  const uint64_t isa = emu_.Read64(address);
  ObjcClass* c = ClassAt(pac.Strip(isa));
  if (!c || c->is_meta() || !c->untracked_instances) return nullptr;
  pac.Authenticate(isa, kIsaScheme, address, "the isa of the " + c->name + " at " + Hex(address));
  return c;
}

bool Runtime::IsObjectLike(uint64_t address) const { return ClassOfObject(address) != nullptr; }

bool Runtime::IsKindOf(uint64_t object, std::string_view class_name) const {
  ObjcClass* c = ClassOfObject(object);
  ObjcClass* other = FindClass(class_name);
  return c && other && c->IsSubclassOf(other);
}

ObjcClass* Runtime::DispatchClass(uint64_t receiver) const {
  if (auto it = objects_.find(receiver); it != objects_.end() && !it->second.alive)
    throw ModelError("a message to a deallocated " + it->second.cls->name + " at " + Hex(receiver));
  ObjcClass* c = ClassOfObject(receiver);
  if (!c) throw ModelError("a message to " + Hex(receiver) + ", which is not an object");
  return c;
}

std::string Runtime::MethodName(uint64_t receiver, uint64_t sel) const {
  ObjcClass* as_class = ClassAt(receiver);
  ObjcClass* c = as_class ? as_class : ClassOfObject(receiver);
  std::string name = c ? c->name : Hex(receiver);
  auto s = selector_names_.find(sel);
  return std::string(as_class ? "+[" : "-[") + name + " " +
         (s == selector_names_.end() ? Hex(sel) : s->second) + "]";
}

uint64_t Runtime::Lookup(ObjcClass* cls, uint64_t sel, ObjcClass** found_in) const {
  for (ObjcClass* c = cls; c; c = c->super) {
    auto it = c->methods.find(sel);
    if (it != c->methods.end()) {
      if (found_in) *found_in = c;
      return it->second.imp;
    }
  }
  return 0;
}

uint64_t Runtime::Retain(uint64_t object) {
  if (object == 0 || ClassAt(object)) return object;
  auto it = objects_.find(object);
  if (it == objects_.end()) {
    if (foreign_refcount && foreign_refcount(object, true)) return object;
    if (IsObjectLike(object)) return object;  // constant strings, stack and global blocks
    throw ModelError("retain of " + Hex(object) + ", which is not an object");
  }
  if (!it->second.alive)
    throw ModelError("retain of a deallocated " + it->second.cls->name + " at " + Hex(object));
  if (!it->second.immortal) ++it->second.retain_count;
  return object;
}

void Runtime::Release(uint64_t object) {
  if (object == 0 || ClassAt(object)) return;
  auto it = objects_.find(object);
  if (it == objects_.end()) {
    if (foreign_refcount && foreign_refcount(object, false)) return;
    if (IsObjectLike(object)) return;
    throw ModelError("release of " + Hex(object) + ", which is not an object");
  }
  ObjectRecord& rec = it->second;
  if (!rec.alive)
    throw ModelError("over-release: release of a deallocated " + rec.cls->name + " at " +
                     Hex(object));
  if (rec.immortal) return;
  if (rec.retain_count == 0)
    throw ModelError("over-release: release of " + rec.cls->name + " at " + Hex(object) +
                     " during its dealloc");
  if (--rec.retain_count == 0) Send(object, "dealloc");
}

void Runtime::Dealloc(uint64_t object) {
  auto it = objects_.find(object);
  if (it == objects_.end() || !it->second.alive)
    throw ModelError("dealloc of " + Hex(object) + ", which is not a live object");
  if (it->second.retain_count != 0)
    throw ModelError("dealloc of " + it->second.cls->name + " at " + Hex(object) +
                     " while it has references");
  // Fields are released before the object goes, as -dealloc releases ivars.
  if (auto* fields = std::any_cast<ObjectFields>(&it->second.payload)) {
    ObjectFields owned = std::move(*fields);
    it->second.payload.reset();
    for (const auto& [name, value] : owned.objects) Release(value);
    for (uint64_t item : owned.items) Release(item);
    it = objects_.find(object);
  }
  it->second.alive = false;
  it->second.payload.reset();
  emu_.Free(object);
}

uint64_t Runtime::Autorelease(uint64_t object) {
  if (object == 0) return 0;
  if (pools_.empty())
    throw ModelError("autorelease of " + MethodName(object, 0).substr(2) +
                     " with no pool in place: it leaks");
  pools_.back().push_back(object);
  return object;
}

uint64_t Runtime::RetainCount(uint64_t object) const {
  auto it = objects_.find(object);
  if (it == objects_.end()) return 0;
  return it->second.immortal ? UINT64_MAX : it->second.retain_count;
}

void Runtime::SetImmortal(uint64_t object) {
  ObjectRecord* rec = Object(object);
  if (!rec) throw ModelError(Hex(object) + " is not an object the model made");
  rec->immortal = true;
}

ObjectFields& Runtime::Fields(uint64_t object) {
  ObjectRecord* rec = Object(object);
  if (!rec || !rec->alive) throw ModelError(Hex(object) + " is not a live object the model made");
  if (!rec->payload.has_value()) rec->payload = ObjectFields{};
  auto* fields = std::any_cast<ObjectFields>(&rec->payload);
  if (!fields) throw ModelError("a " + rec->cls->name + " keeps no fields");
  return *fields;
}

void Runtime::SetField(uint64_t object, std::string_view name, uint64_t value) {
  Retain(value);
  ObjectFields& fields = Fields(object);
  auto it = fields.objects.find(name);
  uint64_t old = 0;
  if (it == fields.objects.end()) {
    fields.objects.emplace(std::string(name), value);
  } else {
    old = it->second;
    it->second = value;
  }
  Release(old);
}

uint64_t Runtime::Field(uint64_t object, std::string_view name) {
  const ObjectFields& fields = Fields(object);
  auto it = fields.objects.find(name);
  return it == fields.objects.end() ? 0 : it->second;
}

uint64_t Runtime::AddIvar(ObjcClass* c, const std::string& name, uint64_t size, uint64_t log2_align,
                          const std::string& types) {
  uint64_t align = uint64_t{1} << log2_align;
  ObjcClass::Ivar ivar;
  ivar.name = name;
  ivar.size = size;
  ivar.types = types;
  ivar.offset = (c->instance_size + align - 1) & ~(align - 1);
  c->instance_size = ivar.offset + size;
  ivar.handle = emu_.Alloc(16);
  emu_.Write64(ivar.handle, ivar.offset);
  c->ivars.push_back(ivar);
  // The vector may move its elements: index the handles afresh.
  for (auto& i : c->ivars) ivars_by_handle_[i.handle] = &i;
  return ivar.offset;
}

uint64_t Runtime::PushPool() {
  pools_.emplace_back();
  return kPoolTokenBase + 16 * (pools_.size() - 1);
}

void Runtime::PopPool(uint64_t token) {
  uint64_t index = (token - kPoolTokenBase) / 16;
  if (token < kPoolTokenBase || token % 16 != 0 || index >= pools_.size())
    throw ModelError("autorelease pool pop of " + Hex(token) + ", which is not an open pool");
  while (pools_.size() > index) {
    std::vector<uint64_t> objects = std::move(pools_.back());
    pools_.pop_back();
    for (auto o = objects.rbegin(); o != objects.rend(); ++o) Release(*o);
  }
}

std::vector<uint64_t> Runtime::LiveObjects() const {
  std::vector<uint64_t> live;
  for (const auto& [address, rec] : objects_)
    if (rec.alive && !rec.immortal) live.push_back(address);
  std::sort(live.begin(), live.end());
  return live;
}

std::string Runtime::LeakReport() const {
  std::string report;
  for (uint64_t address : LiveObjects()) {
    const ObjectRecord& rec = objects_.at(address);
    std::optional<std::string> text = string_value ? string_value(address) : std::nullopt;
    report += "leaked " + rec.cls->name + " at " + Hex(address) + " (retain count " +
              std::to_string(rec.retain_count) + ")" + (text ? " \"" + *text + "\"" : "") + "\n";
  }
  return report;
}

std::string Runtime::StringValue(uint64_t object) const {
  std::optional<std::string> text = string_value ? string_value(object) : std::nullopt;
  if (!text) throw ModelError(Hex(object) + " is not a string");
  return *text;
}

// ---- sends from C++ ----

Value Runtime::Send(uint64_t receiver, std::string_view selector, std::vector<Value> args) {
  if (receiver == 0) return {};
  uint64_t sel = Sel(selector);
  ObjcClass* found = nullptr;
  uint64_t imp = Lookup(DispatchClass(receiver), sel, &found);
  if (!imp)
    throw ModelError(MethodName(receiver, sel) +
                     ": unrecognized selector (the model does not define it)");
  ++sends_;
  return CallImp(imp, found->methods.at(sel).types, found, receiver, sel, std::move(args));
}

Value Runtime::SendSuper(uint64_t receiver, ObjcClass* current, std::string_view selector,
                         std::vector<Value> args) {
  if (receiver == 0) return {};
  uint64_t sel = Sel(selector);
  ObjcClass* found = nullptr;
  uint64_t imp = current && current->super ? Lookup(current->super, sel, &found) : 0;
  if (!imp)
    throw ModelError("[super " + std::string(selector) + "] from " +
                     (current ? current->name : "nil") +
                     ": unrecognized selector (the model does not define it)");
  ++sends_;
  return CallImp(imp, found->methods.at(sel).types, found, receiver, sel, std::move(args));
}

Value Runtime::CallImp(uint64_t imp, const std::string& types, ObjcClass*, uint64_t self,
                       uint64_t sel, std::vector<Value> args) {
  args.insert(args.begin(), {Value(self), Value(sel)});
  if (auto it = model_imps_.find(imp); it != model_imps_.end()) {
    // Values from C++ carry no register of their own: check them as given.
    for (size_t i = 0; i < args.size() && i < it->second.sig.args.size(); ++i)
      if (it->second.sig.args[i].cls == TypeCode::Class::kInteger) args[i].u2 = args[i].u;
    return InvokeModel(it->second, std::move(args));
  }
  Signature sig = ParseSignature(types);
  RegisterResult r = emu_.Call(imp, EncodeArgs(sig, args));
  return ReadResult(sig.result, r);
}

}  // namespace velmo::phone
