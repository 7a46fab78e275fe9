#include "platform/photos/photo_library.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsnumber.h"
#include "platform/foundation/plist.h"

namespace photos {
namespace {

id entryValue(id entry, const char* key) {
  return static_cast<NSDictionary*>(entry)->find(foundation::makeString(key));
}

// Reads one album entry; returns "" or what is wrong with it.
std::string readEntry(id entry, AlbumRecord* out) {
  if (!foundation::isDictionary(entry)) return "is not a dictionary";
  id title = entryValue(entry, "Title");
  id count = entryValue(entry, "Count");
  id kind = entryValue(entry, "Kind");
  if (!foundation::isString(title) || foundation::stdString(title).empty()) {
    return "has no title";
  }
  out->title = foundation::stdString(title);
  if (!foundation::isNumber(count) ||
      static_cast<NSNumber*>(count)->kind != NSNumber::Kind::kInteger) {
    return "\"" + out->title + "\" has no integer count";
  }
  out->count = static_cast<NSNumber*>(count)->integer;
  if (out->count < 0) return "\"" + out->title + "\" has a negative count";
  std::optional<AlbumKind> k = albumKindNamed(foundation::stdString(kind));
  if (!k) return "\"" + out->title + "\" has an unknown kind";
  out->kind = *k;
  return "";
}

}  // namespace

std::vector<AlbumRecord> defaultAlbums() {
  return {
      {"Recents", 1204, AlbumKind::kRecents},
      {"Favorites", 37, AlbumKind::kFavorites},
      {"Holidays", 212, AlbumKind::kUserAlbum},
      {"Family", 88, AlbumKind::kUserAlbum},
      {"Hidden", 12, AlbumKind::kHidden},
      {"Recently Deleted", 5, AlbumKind::kRecentlyDeleted},
  };
}

std::string writeLibrary(const std::vector<AlbumRecord>& albums) {
  objc::AutoreleasePool pool;
  Strong<NSArray> list = foundation::newArray({}, /*mutable_=*/true);
  for (const AlbumRecord& album : albums) {
    Strong<NSDictionary> entry = foundation::newDictionary(/*mutable_=*/true);
    msg<void>(entry, "setObject:forKey:"_sel, foundation::makeString(album.title), "Title"_ns);
    msg<void>(entry, "setObject:forKey:"_sel, foundation::integerNumber(album.count), "Count"_ns);
    msg<void>(entry, "setObject:forKey:"_sel, foundation::makeString(albumKindName(album.kind)),
              "Kind"_ns);
    msg<void>(list, "addObject:"_sel, entry.get());
  }
  Strong<NSDictionary> root = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(root, "setObject:forKey:"_sel, list.get(), "Albums"_ns);

  std::string path = device::devicePath(kLibraryPath);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) return "cannot create the folder of " + path + ": " + ec.message();
  return plist::writeFile(path, root);
}

Library readLibrary() {
  objc::AutoreleasePool pool;
  plist::Result read = plist::readFile(device::devicePath(kLibraryPath));
  if (!read.error.empty()) {
    Library library;
    library.error = "photo library: " + read.error;
    return library;
  }
  return libraryFromPlist(read.value);
}

Library libraryFromPlist(id plist) {
  objc::AutoreleasePool pool;
  Library library;
  id albums = foundation::isDictionary(plist) ? entryValue(plist, "Albums") : nullptr;
  if (!foundation::isArray(albums)) {
    library.error = "photo library: no \"Albums\" list";
    return library;
  }
  std::set<std::string> titles;
  const auto& items = static_cast<NSArray*>(albums)->items;
  for (size_t i = 0; i < items.size(); ++i) {
    AlbumRecord record;
    std::string problem = readEntry(items[i], &record);
    if (problem.empty() && !titles.insert(record.title).second) {
      problem = "\"" + record.title + "\" is listed twice";
    }
    if (!problem.empty()) {
      // The first problem is the one reported; every good entry still loads.
      if (library.error.empty()) {
        library.error = "photo library: album " + std::to_string(i + 1) + " " + problem;
      }
      continue;
    }
    library.collections.push_back(newAssetCollection(record.title, record.count, record.kind));
  }
  return library;
}

}  // namespace photos
