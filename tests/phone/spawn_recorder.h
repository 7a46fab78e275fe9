// SpawnRecorder: the model of posix_spawn and waitpid. Each spawn is
// recorded (path, argv, environment or its absence, the file actions and
// attributes pointers) and nothing runs; the spawn reports success with a
// made-up process id unless a test sets another result. Used from one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class SpawnRecorder {
 public:
  struct Spawn {
    std::string path;
    std::vector<std::string> argv;
    std::optional<std::vector<std::string>> envp;  // nullopt for a NULL environment
    uint64_t file_actions = 0, attributes = 0;
    bool search_path = false;  // posix_spawnp
  };

  explicit SpawnRecorder(Runtime& runtime);
  const std::vector<Spawn>& spawns() const { return spawns_; }
  // The error number posix_spawn returns from now on (0: success).
  void set_result(int error) { result_ = error; }

 private:
  std::vector<std::string> ReadList(uint64_t address, const char* what) const;
  Value Record(Msg& m, bool search_path);

  Runtime& rt_;
  std::vector<Spawn> spawns_;
  int result_ = 0;
  int next_pid_ = 4242;
};

}  // namespace velmo::phone
