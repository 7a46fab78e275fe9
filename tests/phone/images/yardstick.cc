// The benchmark's yardsticks: hooks that do nothing but call the
// implementation they replaced through their slot, the least a replacement
// of each hooked method can do, built with the phone build's flags.
#include "tests/phone/images/phone_abi.h"

static id (*g_original_navigate)(id, SEL, id, bool);
static void (*g_original_configure)(id, SEL, id, id, id);

static id PassNavigate(id self, SEL cmd, id item, bool animated) {
  return g_original_navigate(self, cmd, item, animated);
}

static void PassConfigure(id self, SEL cmd, id cell, id item, id color) {
  g_original_configure(self, cmd, cell, item, color);
}

extern "C" void yardstick_hook(Class cls) {
  MSHookMessageEx(cls, sel_registerName("_navigateTolistItem:animated:"), (IMP)PassNavigate,
                  (IMP*)&g_original_navigate);
  MSHookMessageEx(cls, sel_registerName("_configureCell:forListItem:textColor:"),
                  (IMP)PassConfigure, (IMP*)&g_original_configure);
}
