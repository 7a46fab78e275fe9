// The restart of the Photos app: the tweak library reads the master switch
// only when it loads, so after the switch changes the Photos app is ended
// and loads the library afresh at its next launch.
#pragma once

namespace vlp {

// Starts "/var/jb/usr/bin/killall -9 MobileSlideShow" with no file actions,
// no attributes and an empty environment. The child is reaped on the global
// queue, so that the Settings app neither waits for it nor keeps a zombie. A
// failure to start is not reported: Photos then keeps its old state until it
// restarts.
void startKillall();

}  // namespace vlp
