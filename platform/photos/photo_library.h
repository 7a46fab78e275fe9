// The photo library of the simulated device: the albums the Photos app lists,
// kept in the property-list file "/var/mobile/Media/PhotoData/Albums.plist"
// under the device root:
//
//   { "Albums": [ { "Title": "Hidden", "Count": 12, "Kind": "hidden" }, ... ] }
//
// "Kind" is one of albumKindName()'s names; the list's order is the order the
// app shows. Titles are unique (a tap names its album by title).
//
// Errors are values: a library that is missing or unreadable yields no
// albums and an error; a bad entry is left out and reported, the good entries
// are still loaded.
//
// Thread safety: the functions keep no state; the device root must be set.
#pragma once

#include <string>
#include <vector>

#include "platform/photos/asset_collection.h"

namespace photos {

inline constexpr char kLibraryPath[] = "/var/mobile/Media/PhotoData/Albums.plist";

struct AlbumRecord {
  std::string title;
  long long count = 0;
  AlbumKind kind = AlbumKind::kUserAlbum;
};

// The library a new device starts with: Recents, Favorites, two albums of the
// user, Hidden and Recently Deleted, each with some items.
std::vector<AlbumRecord> defaultAlbums();

// Writes the library file atomically, making its folder. Returns "" or an error.
std::string writeLibrary(const std::vector<AlbumRecord>& albums);

struct Library {
  std::vector<Strong<PHAssetCollection>> collections;  // in the order listed
  std::string error;                                   // "" when every entry was good
};

// Reads the library file of the device.
Library readLibrary();
// Reads a library from its property-list form (the file's top-level object).
Library libraryFromPlist(id plist);

}  // namespace photos
