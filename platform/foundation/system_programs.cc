#include "platform/foundation/system_programs.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include "platform/foundation/device.h"
#include "platform/foundation/folder_beneath.h"

namespace device {
namespace {

constexpr size_t kMaxRecordSize = 1 << 20;

// The hex SHA-256 of what the open file `fd` holds, from its start; "" when
// it cannot be read.
std::string contentHash(int fd) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return "";
  char buffer[64 * 1024];
  off_t at = 0;
  while (true) {
    ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "";
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer, static_cast<size_t>(n)) != 1) return "";
    at += n;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

// Opens the regular file at `system_path` through no link, or says why not.
int openProgram(const std::string& system_path, std::string* error) {
  int fd = openInDevice(system_path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    int e = -fd;
    *error = system_path + (e == ENOENT  ? " is missing"
                            : e == ELOOP ? " is a link or is reached through one"
                                         : std::string(": ") + std::strerror(e));
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = system_path + " is not a regular file";
    return -1;
  }
  return fd;
}

// The recorded hash of `system_path`, "" when none.
std::string recordedHash(const std::string& record, const std::string& system_path) {
  std::istringstream lines(record);
  for (std::string line; std::getline(lines, line);) {
    size_t gap = line.find("  ");
    if (gap != std::string::npos && line.substr(gap + 2) == system_path) return line.substr(0, gap);
  }
  return "";
}

}  // namespace

std::string recordSystemProgram(const std::string& system_path) {
  std::string error;
  int fd = openProgram(system_path, &error);
  if (fd < 0) return "cannot record the device's program: " + error;
  std::string hash = contentHash(fd);
  ::close(fd);
  if (hash.empty()) return "cannot read " + system_path;
  std::error_code ec;
  const std::string record = devicePath(kSystemProgramsRecord);
  std::filesystem::create_directories(std::filesystem::path(record).parent_path(), ec);
  std::string old, text;
  readWholeFile(record, kMaxRecordSize, &old);
  std::istringstream lines(old);
  for (std::string line; std::getline(lines, line);) {
    size_t gap = line.find("  ");
    if (gap != std::string::npos && line.substr(gap + 2) != system_path) text += line + "\n";
  }
  text += hash + "  " + system_path + "\n";
  return writeFileAtomically(record, text);
}

int openSystemProgram(const std::string& system_path, std::string* error) {
  std::string record;
  if (std::string e = readWholeFile(devicePath(kSystemProgramsRecord), kMaxRecordSize, &record);
      !e.empty()) {
    *error = system_path + " was not started: the record of the device's programs (" +
             kSystemProgramsRecord + ") cannot be read";
    return -1;
  }
  const std::string expected = recordedHash(record, system_path);
  if (expected.empty()) {
    *error = system_path + " was not started: it is not a program the device installed";
    return -1;
  }
  std::string why;
  int fd = openProgram(system_path, &why);
  if (fd < 0) {
    *error = system_path + " was not started: " + why;
    return -1;
  }
  // Hashed through the descriptor that will be run, so that a file swapped
  // in after the check is never the one started.
  if (contentHash(fd) != expected) {
    ::close(fd);
    *error = system_path +
             " was not started: it is not the program the device installed (its contents "
             "differ from what init recorded)";
    return -1;
  }
  return fd;
}

}  // namespace device
