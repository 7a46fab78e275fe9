#include "platform/localauth/nserror.h"

namespace localauth {
namespace {

NSError* as(id self) { return static_cast<NSError*>(self); }

Class defineError() {
  Class cls = objc::defineClass<NSError>("NSError", objc::nsobjectClass());
  addClassMethod(
      cls, "errorWithDomain:code:userInfo:"_sel,
      +[](id self, SEL, id domain, long code, id user_info) -> id {
        auto* e = as(class_createInstance(static_cast<Class>(self)));
        e->domain = adopt(static_cast<NSString*>(msg<id>(domain, "copy"_sel)));
        e->code = code;
        e->userInfo = adopt(static_cast<NSDictionary*>(msg<id>(user_info, "copy"_sel)));
        return objc_autorelease(e);
      });
  addMethod(
      cls, "domain"_sel, +[](id self, SEL) -> id { return as(self)->domain.get(); });
  addMethod(
      cls, "code"_sel, +[](id self, SEL) -> long { return as(self)->code; });
  addMethod(
      cls, "userInfo"_sel, +[](id self, SEL) -> id { return as(self)->userInfo.get(); });
  addMethod(
      cls, "localizedDescription"_sel,
      +[](id self, SEL) -> id { return foundation::makeString(errorDescription(self)); });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("Error Domain=" + foundation::stdString(as(self)->domain) +
                                      " Code=" + std::to_string(as(self)->code) + " \"" +
                                      errorDescription(self) + "\"");
      });
  return cls;
}

}  // namespace

Class errorClass() {
  static Class cls = defineError();
  return cls;
}

Strong<NSError> newError(const char* domain, long code, const std::string& description) {
  objc::AutoreleasePool pool;
  auto info = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(info, "setObject:forKey:"_sel, static_cast<id>(foundation::makeString(description)),
            static_cast<id>("NSLocalizedDescription"_ns));
  return Strong<NSError>(static_cast<NSError*>(
      msg<id>(errorClass(), "errorWithDomain:code:userInfo:"_sel,
              static_cast<id>(foundation::makeString(domain)), code, static_cast<id>(info.get()))));
}

std::string errorDescription(id error) {
  if (error == nullptr) return "";
  NSDictionary* info = as(error)->userInfo;
  std::string text = info ? foundation::stdString(info->find("NSLocalizedDescription"_ns)) : "";
  if (!text.empty()) return text;
  return "The operation couldn\xE2\x80\x99t be completed. (" +
         foundation::stdString(as(error)->domain) + " error " + std::to_string(as(error)->code) +
         ".)";
}

}  // namespace localauth
