// finish-arm64e IN OUT: writes OUT, the arm64e image made from IN, an arm64
// image linked with chained fixups from arm64e code (see finish.h). Prints
// one line of counts on success; on any refusal one "error:" line on
// standard error, exit status 1, and no OUT: the image is written to a
// temporary file beside OUT and renamed over it only when complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "phone/finish-arm64e/finish.h"
#include "phone/finish-arm64e/macho_file.h"

namespace {

using velmo::arm64e::FinishError;

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FinishError("cannot read " + path + ": " + strerror(errno));
  std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
  if (in.bad()) throw FinishError("cannot read " + path);
  return bytes;
}

void WriteAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temporary = path + ".tmp-XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) throw FinishError("cannot create a file beside " + path + ": " + strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  int saved = errno;
  bool ok = done == bytes.size() && fchmod(fd, 0755) == 0 && fsync(fd) == 0;
  if (!ok && saved == 0) saved = errno;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
    if (ok) saved = errno;
    unlink(temporary.c_str());
    throw FinishError("cannot write " + path + ": " + strerror(saved));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: finish-arm64e IN OUT\n");
    return 2;
  }
  try {
    velmo::arm64e::FinishReport report;
    auto image = velmo::arm64e::FinishArm64e(ReadAll(argv[1]), &report);
    WriteAtomically(argv[2], image);
    printf("%s: arm64e, %zu fixups, %zu authenticated rebases, %zu authenticated binds\n", argv[2],
           report.fixups, report.auth_rebases, report.auth_binds);
    return 0;
  } catch (const FinishError& e) {
    fprintf(stderr, "error: %s: %s\n", argv[1], e.what());
    return 1;
  }
}
