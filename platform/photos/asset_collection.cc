#include "platform/photos/asset_collection.h"

namespace photos {
namespace {

PHAssetCollection* collection(id self) { return static_cast<PHAssetCollection*>(self); }

struct KindName {
  AlbumKind kind;
  const char* name;
};
constexpr KindName kKindNames[] = {
    {AlbumKind::kRecents, "recents"},
    {AlbumKind::kFavorites, "favorites"},
    {AlbumKind::kUserAlbum, "album"},
    {AlbumKind::kHidden, "hidden"},
    {AlbumKind::kRecentlyDeleted, "recentlyDeleted"},
};

Class defineAssetCollection() {
  Class cls = objc::defineClass<PHAssetCollection>("PHAssetCollection", objc::nsobjectClass());
  addMethod(
      cls, "localizedTitle"_sel,
      +[](id self, SEL) -> id { return collection(self)->localizedTitle.get(); });
  addMethod(
      cls, "estimatedAssetCount"_sel,
      +[](id self, SEL) -> long long { return collection(self)->estimatedAssetCount; });
  addMethod(
      cls, "px_isHiddenSmartAlbum"_sel,
      +[](id self, SEL) -> BOOL { return collection(self)->kind == AlbumKind::kHidden; });
  addMethod(
      cls, "px_isRecentlyDeletedSmartAlbum"_sel,
      +[](id self, SEL) -> BOOL { return collection(self)->kind == AlbumKind::kRecentlyDeleted; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString(
            "<PHAssetCollection " + foundation::stdString(collection(self)->localizedTitle) + ">");
      });
  return cls;
}

}  // namespace

const char* albumKindName(AlbumKind kind) {
  for (const KindName& k : kKindNames) {
    if (k.kind == kind) return k.name;
  }
  return "album";
}

std::optional<AlbumKind> albumKindNamed(std::string_view name) {
  for (const KindName& k : kKindNames) {
    if (name == k.name) return k.kind;
  }
  return std::nullopt;
}

Class assetCollectionClass() {
  static Class cls = defineAssetCollection();
  return cls;
}

Strong<PHAssetCollection> newAssetCollection(std::string_view title, long long count,
                                             AlbumKind kind) {
  auto* c = static_cast<PHAssetCollection*>(class_createInstance(assetCollectionClass()));
  c->localizedTitle = foundation::newString(title);
  c->estimatedAssetCount = count;
  c->kind = kind;
  return adopt(c);
}

}  // namespace photos
