#include "tests/phone/preferences.h"

namespace velmo::phone {

Preferences::Preferences(Runtime& runtime, Foundation& foundation, DeviceFiles& files)
    : rt_(runtime), foundation_(foundation), files_(files) {
  rt_.DefineClass("PSSpecifier")
      .Property("properties")
      .Method("propertyForKey:", "@@:@", [this](Msg& m) -> Value {
        uint64_t properties = rt_.Field(m.self(), "properties");
        return properties ? foundation_.Lookup(properties, m.Str(0)) : 0;
      });

  ClassDef list = rt_.DefineClass("PSListController", "UIViewController");
  specifiers_offset_ = rt_.AddIvar(list.cls(), "_specifiers", 8, 3, "@");
  auto specifiers = [this](uint64_t self) -> uint64_t {
    return rt_.emulator().Read64(self + specifiers_offset_);
  };
  list.Method("init", "@@:",
              [this](Msg& m) -> Value {
                if (!init_fails_) return m.Super();
                rt_.Release(m.self());
                return 0;
              })
      .Method("specifiers", "@@:", [specifiers](Msg& m) -> Value { return specifiers(m.self()); })
      .Method("loadSpecifiersFromPlistName:target:", "@@:@@",
              [this](Msg& m) -> Value {
                loads_.push_back({m.Str(0), m.U(1)});
                std::vector<uint64_t> items;
                uint64_t file = files_.ReadObject(bundle_path_ + "/" + m.Str(0) + ".plist");
                uint64_t entries = file ? foundation_.Lookup(file, "items") : 0;
                if (entries == 0)
                  throw ModelError("no specifier list " + m.Str(0) + " in the bundle");
                for (uint64_t properties : foundation_.Items(entries)) {
                  uint64_t specifier = rt_.AllocObject(&rt_.Class("PSSpecifier"));
                  rt_.SetField(specifier, "properties", properties);
                  items.push_back(rt_.Autorelease(specifier));
                }
                return foundation_.Array(items);
              })
      .Method("tableView:cellForRowAtIndexPath:", "@@:@@",
              [this](Msg&) -> Value {
                uint64_t cell = rt_.Autorelease(rt_.AllocObject(&rt_.Class("UITableViewCell")));
                cells_.push_back(cell);
                return cell;
              })
      .Method("viewDidLoad", "v@:",
              [this](Msg&) -> Value {
                ++view_did_load_calls_;
                return {};
              })
      .Method("setPreferenceValue:specifier:", "v@:@@",
              [this](Msg& m) -> Value {
                stored_.push_back({m.U(0), m.U(1)});
                uint64_t key = rt_.Send(m.U(1), "propertyForKey:", {foundation_.String("key")}).u;
                uint64_t domain =
                    rt_.Send(m.U(1), "propertyForKey:", {foundation_.String("defaults")}).u;
                if (key == 0 || domain == 0)
                  throw ModelError("a specifier with no key or defaults domain");
                uint64_t defaults =
                    rt_.Send(rt_.Class("NSUserDefaults").address, "standardUserDefaults").u;
                rt_.Send(defaults, "setObject:forKey:inDomain:", {m.U(0), key, domain});
                return {};
              })
      .Method("dealloc", "v@:", [this, specifiers](Msg& m) -> Value {
        uint64_t held = specifiers(m.self());
        rt_.emulator().Write64(m.self() + specifiers_offset_, 0);
        rt_.Release(held);
        return m.Super();
      });
}

}  // namespace velmo::phone
