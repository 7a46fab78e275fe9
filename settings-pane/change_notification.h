// The change notification: tells the tweak library, wherever it runs, to
// reread the preferences domain.
#pragma once

namespace vlp {

// Posts "com.qel.velmopreferences/changed" on the Darwin notify center, with
// no object and no user information, delivered immediately.
void postChangeNotification();

}  // namespace vlp
