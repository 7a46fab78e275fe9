// The device's clock: the machine's wall clock plus an offset that the device
// keeps in <root>/var/db/clock.plist ("offsetSeconds", an integer). Waits that
// a person would sit through on a phone (the passcode lock-out) run on this
// clock, so that a test or a curious owner can move it forward instead of
// sleeping: `velmo-device clock --root DIR advance 5m`.
//
// The clock only moves forward: advance() refuses a negative step, and a
// step that would take it past 1000 years ahead of the machine. A missing or
// unreadable clock file means no offset.
//
// Thread safety: safe from any thread; the device root must be set first.
// Two processes advancing at once may lose one step (the last write wins).
#pragma once

#include <cstdint>
#include <string>

namespace device {

inline constexpr char kClockPath[] = "/var/db/clock.plist";

// Seconds since 1970-01-01 00:00:00 UTC on the device's clock.
int64_t clockNow();
// The offset from the machine's clock, in seconds.
int64_t clockOffset();
// Moves the device's clock forward by `seconds` (>= 0). Returns "" or an error.
std::string advanceClock(int64_t seconds);

// Parses a step such as "90s", "5m", "2h" or "1d" (a bare number is seconds)
// into seconds. Returns false for anything else, a negative step, or one
// over 100 years.
bool parseDuration(const std::string& text, int64_t* seconds);

}  // namespace device
