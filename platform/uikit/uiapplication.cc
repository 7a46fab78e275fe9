#include "platform/uikit/uiapplication.h"

#include <mutex>
#include <utility>
#include <vector>

NSString* const UIApplicationDidEnterBackgroundNotification =
    foundation::constantString("UIApplicationDidEnterBackgroundNotification");
NSString* const UIApplicationWillEnterForegroundNotification =
    foundation::constantString("UIApplicationWillEnterForegroundNotification");
NSString* const UIApplicationDidBecomeActiveNotification =
    foundation::constantString("UIApplicationDidBecomeActiveNotification");
NSString* const UIApplicationWillResignActiveNotification =
    foundation::constantString("UIApplicationWillResignActiveNotification");

namespace uikit {
namespace {

struct ApplicationState {
  std::mutex mu;
  std::optional<std::string> alert;
  std::vector<std::function<void()>> resignHandlers;
};

ApplicationState& state() {
  static auto* s = new ApplicationState();  // used by replies that may outlive main()
  return *s;
}

}  // namespace

void setSystemAlert(std::optional<std::string> description) {
  std::lock_guard<std::mutex> g(state().mu);
  state().alert = std::move(description);
}

std::optional<std::string> systemAlert() {
  std::lock_guard<std::mutex> g(state().mu);
  return state().alert;
}

void addWillResignActiveHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> g(state().mu);
  state().resignHandlers.push_back(std::move(handler));
}

void applicationWillResignActive() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> g(state().mu);
    handlers = state().resignHandlers;
  }
  for (const auto& handler : handlers) handler();
}

}  // namespace uikit
