#include "platform/photos/photo_library.h"

#include <gtest/gtest.h>

#include "platform/foundation/collections.h"
#include "platform/foundation/nsnumber.h"
#include "platform/photos/list_items.h"

namespace {

Strong<NSDictionary> entry(id title, id count, id kind) {
  Strong<NSDictionary> e = foundation::newDictionary(/*mutable_=*/true);
  if (title) msg<void>(e, "setObject:forKey:"_sel, title, "Title"_ns);
  if (count) msg<void>(e, "setObject:forKey:"_sel, count, "Count"_ns);
  if (kind) msg<void>(e, "setObject:forKey:"_sel, kind, "Kind"_ns);
  return e;
}

Strong<NSDictionary> library(std::initializer_list<id> entries) {
  Strong<NSDictionary> root = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(root, "setObject:forKey:"_sel, foundation::newArray(entries).get(), "Albums"_ns);
  return root;
}

std::vector<std::string> titles(const photos::Library& lib) {
  std::vector<std::string> out;
  for (const auto& c : lib.collections) out.push_back(foundation::stdString(c->localizedTitle));
  return out;
}

TEST(PhotoLibrary, ReadsAlbumsInOrderWithTheirKinds) {
  objc::AutoreleasePool pool;
  auto root =
      library({entry("Recents"_ns, foundation::integerNumber(3), "recents"_ns),
               entry("Hidden"_ns, foundation::integerNumber(12), "hidden"_ns),
               entry("Recently Deleted"_ns, foundation::integerNumber(0), "recentlyDeleted"_ns)});
  photos::Library lib = photos::libraryFromPlist(root);
  EXPECT_EQ(lib.error, "");
  ASSERT_EQ(titles(lib), (std::vector<std::string>{"Recents", "Hidden", "Recently Deleted"}));
  auto asks = [](id c) {
    return std::make_pair(msg<BOOL>(c, "px_isHiddenSmartAlbum"_sel),
                          msg<BOOL>(c, "px_isRecentlyDeletedSmartAlbum"_sel));
  };
  EXPECT_EQ(asks(lib.collections[0]), std::make_pair(NO, NO));
  EXPECT_EQ(asks(lib.collections[1]), std::make_pair(YES, NO));
  EXPECT_EQ(asks(lib.collections[2]), std::make_pair(NO, YES));
  EXPECT_EQ(msg<long long>(lib.collections[1], "estimatedAssetCount"_sel), 12);
}

TEST(PhotoLibrary, BadEntriesAreLeftOutAndReportedTheGoodOnesLoad) {
  objc::AutoreleasePool pool;
  auto root = library({
      entry("Family"_ns, foundation::integerNumber(88), "album"_ns),
      entry(nullptr, foundation::integerNumber(1), "album"_ns),
      entry("Half"_ns, foundation::realNumber(1.5), "album"_ns),
      entry("Less"_ns, foundation::integerNumber(-1), "album"_ns),
      entry("Odd"_ns, foundation::integerNumber(1), "secret"_ns),
      entry("Family"_ns, foundation::integerNumber(2), "album"_ns),
      "not an entry"_ns,
      entry("Hidden"_ns, foundation::integerNumber(12), "hidden"_ns),
  });
  photos::Library lib = photos::libraryFromPlist(root);
  EXPECT_EQ(lib.error, "photo library: album 2 has no title");
  EXPECT_EQ(titles(lib), (std::vector<std::string>{"Family", "Hidden"}));
}

TEST(PhotoLibrary, ALibraryWithoutAnAlbumListIsAnError) {
  objc::AutoreleasePool pool;
  EXPECT_EQ(photos::libraryFromPlist(nullptr).error, "photo library: no \"Albums\" list");
  EXPECT_EQ(photos::libraryFromPlist(foundation::newArray().get()).error,
            "photo library: no \"Albums\" list");
  EXPECT_TRUE(photos::libraryFromPlist(foundation::newDictionary().get()).collections.empty());
}

// The list item shows the count it was made with, not the album's own.
TEST(ListItem, ShowsTheCountItWasCreatedWith) {
  objc::AutoreleasePool pool;
  auto hidden = photos::newAssetCollection("Hidden", 12, photos::AlbumKind::kHidden);
  Strong<objc_object> item = photos::newListItem(hidden, 7LL);
  ASSERT_TRUE(item);
  EXPECT_EQ(object_getClass(item), objc_getClass("PXNavigationListAssetCollectionItem"));
  EXPECT_TRUE(msg<BOOL>(item, "isKindOfClass:"_sel, objc_getClass("PXNavigationListItem")));
  EXPECT_EQ(msg<long long>(item, "itemCount"_sel), 7);
  EXPECT_EQ(msg<id>(item, "collection"_sel), hidden.get());
  EXPECT_EQ(foundation::stdString(msg<id>(item, "title"_sel)), "Hidden");
}

}  // namespace
