#include "tests/phone/spawn_recorder.h"

namespace velmo::phone {

SpawnRecorder::SpawnRecorder(Runtime& runtime) : rt_(runtime) {
  rt_.Function("posix_spawn", "i^i*^v^v^*^*", [this](Msg& m) -> Value { return Record(m, false); });
  rt_.Function("posix_spawnp", "i^i*^v^v^*^*", [this](Msg& m) -> Value { return Record(m, true); });
  rt_.Function("waitpid", "ii^ii", [this](Msg& m) -> Value {
    if (m.U(1) != 0) {
      uint32_t status = 0;
      rt_.emulator().Write(m.U(1), &status, 4);
    }
    return m.I(0);
  });
}

std::vector<std::string> SpawnRecorder::ReadList(uint64_t address, const char* what) const {
  std::vector<std::string> list;
  for (;; address += 8) {
    uint64_t item = rt_.emulator().Read64(address);
    if (item == 0) return list;
    if (list.size() >= 1024)
      throw ModelError(std::string("posix_spawn: ") + what + " is not NULL-terminated");
    list.push_back(rt_.emulator().ReadCString(item));
  }
}

Value SpawnRecorder::Record(Msg& m, bool search_path) {
  Spawn s;
  s.path = m.CStr(1);
  s.file_actions = m.U(2);
  s.attributes = m.U(3);
  if (m.U(4) == 0) throw ModelError("posix_spawn with a NULL argv");
  s.argv = ReadList(m.U(4), "argv");
  if (m.U(5) != 0) s.envp = ReadList(m.U(5), "envp");
  s.search_path = search_path;
  spawns_.push_back(std::move(s));
  if (result_ != 0) return result_;
  if (m.U(0) != 0) {
    int32_t pid = next_pid_++;
    rt_.emulator().Write(m.U(0), &pid, 4);
  }
  return 0;
}

}  // namespace velmo::phone
