#include "platform/tcc/tcc_service.h"

#include <string>

namespace tcc {
namespace {

TCCDService* service(id self) { return static_cast<TCCDService*>(self); }

Class defineService() {
  Class cls = objc::defineClass<TCCDService>("TCCDService", objc::nsobjectClass());
  addMethod(
      cls, "initWithName:"_sel, +[](id self, SEL, id name) -> id {
        service(self)->name = adopt(static_cast<NSString*>(msg<id>(name, "copy"_sel)));
        return self;
      });
  addMethod(
      cls, "name"_sel, +[](id self, SEL) -> id { return service(self)->name.get(); });
  // The list is copied, so a caller that keeps mutating its array cannot
  // change what the service allows behind its back.
  addMethod(
      cls, "setDefaultAllowedIdentifiersList:"_sel, +[](id self, SEL, id list) {
        service(self)->defaultAllowedIdentifiers =
            adopt(static_cast<NSArray*>(msg<id>(list, "copy"_sel)));
      });
  addMethod(
      cls, "defaultAllowedIdentifiersList"_sel,
      +[](id self, SEL) -> id { return service(self)->defaultAllowedIdentifiers.get(); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        std::string text = "<TCCDService " + foundation::stdString(service(self)->name) + ">";
        return foundation::makeString(text);
      });
  return cls;
}

}  // namespace

Class serviceClass() {
  static Class cls = defineService();
  return cls;
}

void registerClasses() { serviceClass(); }

Strong<TCCDService> newService(std::string_view name) {
  id obj = msg<id>(serviceClass(), "alloc"_sel);
  return adopt(static_cast<TCCDService*>(
      msg<id>(obj, "initWithName:"_sel, foundation::newString(name).get())));
}

}  // namespace tcc
