#include "device/package/archive_entries.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace package {

std::string readArchiveEntries(const std::string& tar_path, std::vector<ArchiveEntry>* entries) {
  std::unique_ptr<archive, decltype(&archive_read_free)> reader(archive_read_new(),
                                                                &archive_read_free);
  archive* a = reader.get();
  archive_read_support_format_tar(a);
  archive_read_support_format_gnutar(a);
  if (archive_read_open_filename(a, tar_path.c_str(), 64 * 1024) != ARCHIVE_OK)
    return std::string("cannot read the data archive: ") + archive_error_string(a);
  archive_entry* entry = nullptr;
  while (true) {
    int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF) return "";
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      const char* why = archive_error_string(a);
      return std::string("damaged data archive: ") + (why ? why : "unreadable entry");
    }
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr) return "damaged data archive: an entry without a name";
    ArchiveEntry e;
    e.name = name;
    if (const char* hard = archive_entry_hardlink(entry)) {
      e.type = ArchiveEntry::Type::kHardlink;
      e.link = hard;
    } else {
      switch (archive_entry_filetype(entry)) {
        case AE_IFREG:
          e.type = ArchiveEntry::Type::kFile;
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
    entries->push_back(std::move(e));
    // Reading the data through to the next header also proves it is whole.
    if (archive_read_data_skip(a) != ARCHIVE_OK) {
      const char* why = archive_error_string(a);
      return std::string("damaged data archive: ") + (why ? why : "truncated entry");
    }
  }
}

}  // namespace package
