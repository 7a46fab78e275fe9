#include "platform/preferences/ps_list_controller.h"

#include "platform/foundation/nsstring.h"
#include "platform/foundation/nsuserdefaults.h"
#include "platform/preferences/ps_table_cell.h"
#include "platform/uikit/nsindexpath.h"

namespace preferences {
namespace {

PSListController* as(id self) { return static_cast<PSListController*>(self); }
PSSpecifier* specifierOf(id specifier) { return static_cast<PSSpecifier*>(specifier); }

BOOL isSpecifier(id obj) {
  return obj != nullptr && msg<BOOL>(obj, "isKindOfClass:"_sel, specifierClass());
}

id standardDefaults() {
  return msg<id>(foundation::userDefaultsClass(), "standardUserDefaults"_sel);
}

// The row's key and domain, or nil when the row names none.
id keyOf(PSSpecifier* s) {
  id key = s->properties->find("key"_ns);
  return foundation::isString(key) ? key : nullptr;
}
id domainOf(PSSpecifier* s) {
  id domain = s->properties->find("defaults"_ns);
  return foundation::isString(domain) ? domain : nullptr;
}

// The section's group specifier, or nil for a section outside the list.
const Section* sectionAt(const std::vector<Section>& sections, long index) {
  if (index < 0 || static_cast<size_t>(index) >= sections.size()) return nullptr;
  return &sections[static_cast<size_t>(index)];
}

id sectionProperty(id self, long section, NSString* key) {
  std::vector<Section> sections = sectionsOf(msg<id>(self, "specifiers"_sel));
  const Section* s = sectionAt(sections, section);
  if (s == nullptr || s->group == nullptr) return nullptr;
  id value = s->group->properties->find(key);
  return foundation::isString(value) ? value : nullptr;
}

id loadSpecifiers(id self, id name, id target) {
  auto list = foundation::newArray({}, true);
  id bundle = as(self)->bundle.get();
  if (bundle == nullptr || !foundation::isString(name)) return list.autorelease();
  id path = msg<id>(bundle, "pathForResource:ofType:"_sel, name, static_cast<id>("plist"_ns));
  if (path == nullptr) return list.autorelease();
  id plist = msg<id>(foundation::dictionaryClass(), "dictionaryWithContentsOfFile:"_sel, path);
  if (plist == nullptr) return list.autorelease();
  id items = static_cast<NSDictionary*>(plist)->find("items"_ns);
  if (foundation::isArray(items)) {
    for (const auto& item : static_cast<NSArray*>(items)->items) {
      if (!foundation::isDictionary(item)) continue;  // not a row: skipped, as the platform does
      list->items.emplace_back(newSpecifier(static_cast<NSDictionary*>(item.get()), target).get());
    }
  }
  id title = static_cast<NSDictionary*>(plist)->find("title"_ns);
  if (foundation::isString(title)) msg<void>(self, "setTitle:"_sel, title);
  return list.autorelease();
}

Class defineListController() {
  Class cls = objc::defineClass<PSListController>("PSListController", uikit::viewControllerClass());
  {
    // Subclasses made at run time reach the rows' storage as the ivar
    // `_specifiers`, as on the platform.
    PSListController probe;
    auto offset = reinterpret_cast<char*>(&probe._specifiers) - reinterpret_cast<char*>(&probe);
    objc::declareIvar(cls, "_specifiers", offset, sizeof probe._specifiers, "@\"NSArray\"");
  }
  addMethod(
      cls, "init"_sel, +[](id self, SEL) -> id {
        return msgSuper<id>(uikit::viewControllerClass(), self, "init"_sel);
      });
  addMethod(
      cls, "specifiers"_sel, +[](id self, SEL) -> id { return as(self)->_specifiers.get(); });
  addMethod(
      cls, "setSpecifiers:"_sel, +[](id self, SEL, id specifiers) {
        as(self)->_specifiers = adopt(static_cast<NSArray*>(msg<id>(specifiers, "copy"_sel)));
        msg<void>(as(self)->table, "reloadData"_sel);
      });
  addMethod(
      cls, "bundle"_sel, +[](id self, SEL) -> id { return as(self)->bundle.get(); });
  addMethod(
      cls, "setBundle:"_sel,
      +[](id self, SEL, id bundle) { as(self)->bundle = static_cast<NSBundle*>(bundle); });
  addMethod(
      cls, "specifier"_sel, +[](id self, SEL) -> id { return as(self)->specifier.get(); });
  addMethod(
      cls, "setSpecifier:"_sel,
      +[](id self, SEL, id specifier) { as(self)->specifier = specifierOf(specifier); });
  addMethod(
      cls, "loadSpecifiersFromPlistName:target:"_sel,
      +[](id self, SEL, id name, id target) -> id { return loadSpecifiers(self, name, target); });

  addMethod(
      cls, "readPreferenceValue:"_sel, +[](id, SEL, id specifier) -> id {
        if (!isSpecifier(specifier)) return nullptr;
        PSSpecifier* s = specifierOf(specifier);
        id key = keyOf(s);
        id domain = domainOf(s);
        id value = key && domain
                       ? msg<id>(standardDefaults(), "objectForKey:inDomain:"_sel, key, domain)
                       : nullptr;
        return value != nullptr ? value : s->properties->find("default"_ns);
      });
  addMethod(
      cls, "setPreferenceValue:specifier:"_sel, +[](id, SEL, id value, id specifier) {
        if (!isSpecifier(specifier)) return;
        id key = keyOf(specifierOf(specifier));
        id domain = domainOf(specifierOf(specifier));
        if (key == nullptr || domain == nullptr) return;
        msg<void>(standardDefaults(), "setObject:forKey:inDomain:"_sel, value, key, domain);
        // Each row's write is synchronized on its own, so that a row that
        // was not saved is never taken later for a failure of another write
        // (the master switch's, which restarts Photos only once saved).
        msg<BOOL>(standardDefaults(), "synchronize"_sel);
      });
  addMethod(
      cls, "specifierForID:"_sel, +[](id self, SEL, id identifier) -> id {
        id list = msg<id>(self, "specifiers"_sel);
        if (!foundation::isArray(list) || identifier == nullptr) return nullptr;
        for (const auto& item : static_cast<NSArray*>(list)->items) {
          id mine = isSpecifier(item) ? msg<id>(item, "identifier"_sel) : nullptr;
          if (mine != nullptr && msg<BOOL>(mine, "isEqual:"_sel, identifier)) return item.get();
        }
        return nullptr;
      });
  addMethod(
      cls, "indexPathForSpecifier:"_sel, +[](id self, SEL, id specifier) -> id {
        std::vector<Section> sections = sectionsOf(msg<id>(self, "specifiers"_sel));
        for (size_t section = 0; section < sections.size(); ++section) {
          const auto& rows = sections[section].rows;
          for (size_t row = 0; row < rows.size(); ++row) {
            if (rows[row] == specifier) {
              return msg<id>(uikit::indexPathClass(), "indexPathForRow:inSection:"_sel,
                             static_cast<long>(row), static_cast<long>(section));
            }
          }
        }
        return nullptr;
      });

  addMethod(
      cls, "loadView"_sel, +[](id self, SEL) {
        PSListController* c = as(self);
        id table = msg<id>(uikit::tableViewClass(), "alloc"_sel);
        c->table = adopt(
            static_cast<UITableView*>(msg<id>(table, "initWithFrame:style:"_sel, CGRectZero,
                                              static_cast<long>(UITableViewStyleInsetGrouped))));
        msg<void>(c->table, "setDataSource:"_sel, self);
        msg<void>(c->table, "setDelegate:"_sel, self);
        msg<void>(self, "setView:"_sel, static_cast<id>(c->table.get()));
      });
  addMethod(
      cls, "viewDidLoad"_sel,
      +[](id self, SEL) { msgSuper<void>(uikit::viewControllerClass(), self, "viewDidLoad"_sel); });
  addMethod(
      cls, "table"_sel, +[](id self, SEL) -> id { return as(self)->table.get(); });

  addMethod(
      cls, "numberOfSectionsInTableView:"_sel, +[](id self, SEL, id) -> long {
        return static_cast<long>(sectionsOf(msg<id>(self, "specifiers"_sel)).size());
      });
  addMethod(
      cls, "tableView:numberOfRowsInSection:"_sel, +[](id self, SEL, id, long section) -> long {
        std::vector<Section> sections = sectionsOf(msg<id>(self, "specifiers"_sel));
        const Section* s = sectionAt(sections, section);
        return s == nullptr ? 0 : static_cast<long>(s->rows.size());
      });
  addMethod(
      cls, "tableView:cellForRowAtIndexPath:"_sel, +[](id self, SEL, id, id path) -> id {
        if (path == nullptr) return nullptr;
        std::vector<Section> sections = sectionsOf(msg<id>(self, "specifiers"_sel));
        const Section* s = sectionAt(sections, msg<long>(path, "section"_sel));
        long row = msg<long>(path, "row"_sel);
        if (s == nullptr || row < 0 || static_cast<size_t>(row) >= s->rows.size()) return nullptr;
        PSSpecifier* r = s->rows[static_cast<size_t>(row)];
        id value = nullptr;
        if (r->getter != nullptr && respondsTo(r->target, r->getter)) {
          value = msg<id>(r->target, r->getter, static_cast<id>(r));
        }
        return newCell(r, value).autorelease();
      });
  addMethod(
      cls, "tableView:titleForHeaderInSection:"_sel, +[](id self, SEL, id, long section) -> id {
        return sectionProperty(self, section, "label"_ns);
      });
  addMethod(
      cls, "tableView:titleForFooterInSection:"_sel, +[](id self, SEL, id, long section) -> id {
        return sectionProperty(self, section, "footerText"_ns);
      });
  return cls;
}

[[maybe_unused]] const bool kRegistered = [] {
  specifierClass();
  tableCellClass();
  switchTableCellClass();
  editableTableCellClass();
  listControllerClass();
  return true;
}();

}  // namespace

Class listControllerClass() {
  static Class cls = defineListController();
  return cls;
}

std::vector<Section> sectionsOf(id specifiers) {
  std::vector<Section> sections;
  if (!foundation::isArray(specifiers)) return sections;
  for (const auto& item : static_cast<NSArray*>(specifiers)->items) {
    if (!isSpecifier(item)) continue;
    PSSpecifier* s = specifierOf(item);
    if (s->cellType == PSGroupCell) {
      sections.push_back(Section{s, {}});
      continue;
    }
    if (sections.empty()) sections.push_back(Section{});
    sections.back().rows.push_back(s);
  }
  return sections;
}

}  // namespace preferences
