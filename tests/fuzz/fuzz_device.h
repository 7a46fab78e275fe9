// Fuzz support: a scratch device root for one fuzzing process, made at start
// and removed at exit, and small file helpers that write without fsync (a
// fuzz target writes a file per input).
//
// Thread safety: none; libFuzzer runs inputs one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz_support {

// Makes a fresh device root in /dev/shm (else the temporary folder), sets it as the
// process's device root, and returns it. Removed when the process exits.
const std::string& makeScratchDevice();
// Replaces the file at a real path with `bytes` (making its folder); aborts on
// failure, which is a broken set-up, not a finding.
void putFile(const std::string& real_path, std::string_view bytes);
inline std::string_view asText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz_support
