#include "tests/support/package_archives.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <utility>

namespace testing_support {

std::string tarOf(const std::vector<Entry>& entries) {
  std::vector<char> buffer(4 << 20);
  size_t used = 0;
  archive* a = archive_write_new();
  archive_write_set_format_gnutar(a);
  archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
  for (const Entry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_uname(entry, "root");
    archive_entry_set_gname(entry, "root");
    switch (e.type) {
      case 'd':
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_perm(entry, e.mode != 0 ? e.mode : 0755);
        break;
      case 'l':
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_perm(entry, 0777);
        archive_entry_set_symlink(entry, e.content.c_str());
        break;
      case 'h':
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_hardlink(entry, e.content.c_str());
        break;
      default:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, e.mode != 0 ? e.mode : e.type == 'x' ? 0755 : 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.content.size()));
    }
    EXPECT_EQ(archive_write_header(a, entry), ARCHIVE_OK) << archive_error_string(a);
    if (e.type == 'f' || e.type == 'x') archive_write_data(a, e.content.data(), e.content.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
  return std::string(buffer.data(), used);
}

void writeDeb(const std::string& path, const std::string& package, const std::string& version,
              const std::vector<Entry>& data, const std::vector<Entry>& scripts,
              const std::string& more_fields) {
  std::vector<Entry> control = {
      {"./", 'd', ""},
      {"./control", 'f',
       "Package: " + package + "\nVersion: " + version + "\n" + more_fields +
           "Maintainer: Tests <t@example.com>\n"
           "Description: built by a test\n"}};
  for (const Entry& e : scripts) {
    if (e.name == "./control") control.erase(control.begin() + 1);
  }
  control.insert(control.end(), scripts.begin(), scripts.end());
  const std::pair<std::string, std::string> members[] = {
      {"debian-binary", "2.0\n"}, {"control.tar", tarOf(control)}, {"data.tar", tarOf(data)}};
  archive* a = archive_write_new();
  archive_write_set_format_ar_svr4(a);
  ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
  for (const auto& [name, bytes] : members) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    ASSERT_EQ(archive_write_header(a, entry), ARCHIVE_OK) << archive_error_string(a);
    archive_write_data(a, bytes.data(), bytes.size());
    archive_entry_free(entry);
  }
  archive_write_close(a);
  archive_write_free(a);
}

}  // namespace testing_support
