// NotifyCenter: the model of CoreFoundation's Darwin notify center. The
// image's observers are kept with their callback and name; its posts are
// recorded. Nothing is delivered on its own: Deliver() calls the callbacks
// of the observers of a name, in emulation, as the center would when the
// name is posted (from this process or another). Used from one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class NotifyCenter {
 public:
  struct Observer {
    uint64_t observer = 0, callback = 0, name_object = 0, object = 0;
    std::string name;
    int64_t suspension_behavior = 0;
  };
  struct Post {
    std::string name;
    uint64_t object = 0, user_info = 0;
    bool deliver_immediately = false;
    bool on_main = true;
  };

  explicit NotifyCenter(Runtime& runtime);
  uint64_t center() const { return center_; }
  const std::vector<Observer>& observers() const { return observers_; }
  const std::vector<Post>& posts() const { return posts_; }
  // Calls each observer of `name`; returns how many were called.
  size_t Deliver(const std::string& name);
  // Set by the phone model: whether a post happens on the main queue.
  std::function<bool()> on_main;

 private:
  Runtime& rt_;
  uint64_t center_;
  std::vector<Observer> observers_;
  std::vector<Post> posts_;
};

}  // namespace velmo::phone
