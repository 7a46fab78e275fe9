#include "device/package/archive_entries.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace package {
namespace {

using Reader = std::unique_ptr<archive, decltype(&archive_read_free)>;

Reader newReader() {
  Reader reader(archive_read_new(), &archive_read_free);
  archive_read_support_format_tar(reader.get());
  archive_read_support_format_gnutar(reader.get());
  return reader;
}

std::string readEntries(archive* a, uint64_t max_size, std::vector<ArchiveEntry>* entries,
                        bool* too_big) {
  uint64_t total = 0;
  archive_entry* entry = nullptr;
  while (true) {
    int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF) return "";
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      const char* why = archive_error_string(a);
      return std::string("damaged archive: ") + (why ? why : "unreadable entry");
    }
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) return "damaged archive: an entry without a name";
    ArchiveEntry e;
    e.name = name;
    e.mode = static_cast<unsigned>(archive_entry_perm(entry)) & 07777;
    if (const char* hard = archive_entry_hardlink(entry)) {
      e.type = ArchiveEntry::Type::kHardlink;
      e.link = hard;
    } else {
      switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
          e.type = ArchiveEntry::Type::kFile;
          e.size = static_cast<uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
          break;
        case AE_IFDIR:
          e.type = ArchiveEntry::Type::kDirectory;
          break;
        case AE_IFLNK: {
          e.type = ArchiveEntry::Type::kSymlink;
          const char* target = archive_entry_symlink(entry);
          e.link = target ? target : "";
          break;
        }
        default:
          e.type = ArchiveEntry::Type::kOther;
      }
    }
    // Judged from the header, before the file's bytes are read.
    if (e.size > max_size - total) {
      *too_big = true;
      return "its files add up to more than " + std::to_string(max_size) + " bytes";
    }
    total += e.size;
    // Empty entries cost nothing in bytes but a record each: a small archive
    // of millions of them would otherwise grow the list without bound.
    if (entries->size() >= kMaxArchiveEntries) {
      *too_big = true;
      return "it holds more than " + std::to_string(kMaxArchiveEntries) + " entries";
    }
    entries->push_back(std::move(e));
    // Reading the data through to the next header also proves it is whole.
    if (archive_read_data_skip(a) != ARCHIVE_OK) {
      const char* why = archive_error_string(a);
      return std::string("damaged archive: ") + (why ? why : "truncated entry");
    }
  }
}

}  // namespace

std::string readArchiveEntries(int fd, uint64_t max_size, std::vector<ArchiveEntry>* entries,
                               bool* too_big) {
  *too_big = false;
  Reader reader = newReader();
  if (archive_read_open_fd(reader.get(), fd, 64 * 1024) != ARCHIVE_OK)
    return std::string("cannot read the archive: ") + archive_error_string(reader.get());
  return readEntries(reader.get(), max_size, entries, too_big);
}

}  // namespace package
