#include "tests/phone/notify_center.h"

namespace velmo::phone {

NotifyCenter::NotifyCenter(Runtime& runtime) : rt_(runtime), center_(runtime.emulator().Alloc(64)) {
  auto check_center = [this](Msg& m) {
    if (m.U(0) != center_)
      throw ModelError(m.runtime().emulator().Describe(m.U(0)) +
                       " is not the Darwin notify center");
  };
  rt_.Function("CFNotificationCenterGetDarwinNotifyCenter", "^v",
               [this](Msg&) -> Value { return center_; });
  rt_.Function(
      "CFNotificationCenterAddObserver", "v^v^v^?@^vq", [this, check_center](Msg& m) -> Value {
        check_center(m);
        if (m.U(2) == 0) throw ModelError("CFNotificationCenterAddObserver with a NULL callback");
        if (m.U(3) == 0)
          throw ModelError("CFNotificationCenterAddObserver on the Darwin center needs a name");
        Observer o;
        o.observer = m.U(1);
        // A C function pointer, signed as the platform signs one; the
        // record keeps it plain.
        o.callback = rt_.pac.Authenticate(m.U(2), kFunctionPointerScheme, 0,
                                          "the callback given to CFNotificationCenterAddObserver");
        o.name_object = m.U(3);
        o.name = m.Str(3);
        o.object = m.U(4);
        o.suspension_behavior = m.I(5);
        observers_.push_back(o);
        return {};
      });
  rt_.Function("CFNotificationCenterRemoveEveryObserver", "v^v^v",
               [this, check_center](Msg& m) -> Value {
                 check_center(m);
                 std::erase_if(observers_, [&](const Observer& o) { return o.observer == m.U(1); });
                 return {};
               });
  rt_.Function("CFNotificationCenterPostNotification", "v^v@^v^vB",
               [this, check_center](Msg& m) -> Value {
                 check_center(m);
                 if (m.U(1) == 0)
                   throw ModelError("CFNotificationCenterPostNotification with a NULL name");
                 posts_.push_back({m.Str(1), m.U(2), m.U(3), m.B(4), on_main ? on_main() : true});
                 return {};
               });
}

size_t NotifyCenter::Deliver(const std::string& name) {
  // The list may change while callbacks run: deliver to a snapshot.
  std::vector<Observer> targets;
  for (const Observer& o : observers_)
    if (o.name == name) targets.push_back(o);
  for (const Observer& o : targets) {
    RegisterArgs args;
    args.x = {center_, o.observer, o.name_object, 0, 0};
    rt_.emulator().Call(o.callback, args);
  }
  return targets.size();
}

}  // namespace velmo::phone
