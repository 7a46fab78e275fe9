#include "platform/photos/list_items.h"

namespace photos {
namespace {

PXNavigationListItem* item(id self) { return static_cast<PXNavigationListItem*>(self); }

Class defineListItem() {
  Class cls =
      objc::defineClass<PXNavigationListItem>("PXNavigationListItem", objc::nsobjectClass());
  addMethod(
      cls, "title"_sel, +[](id self, SEL) -> id { return item(self)->title.get(); });
  addMethod(
      cls, "itemCount"_sel, +[](id self, SEL) -> long long { return item(self)->itemCount; });
  addMethod(
      cls, "collection"_sel, +[](id, SEL) -> id { return nullptr; });
  addMethod(
      cls, "description"_sel, +[](id self, SEL) -> id {
        return foundation::makeString("<" + std::string(class_getName(object_getClass(self))) +
                                      " " + foundation::stdString(item(self)->title) + " " +
                                      std::to_string(item(self)->itemCount) + ">");
      });
  return cls;
}

Class defineAssetCollectionItem() {
  Class cls = objc::defineClass<PXNavigationListAssetCollectionItem>(
      "PXNavigationListAssetCollectionItem", listItemClass());
  addMethod(
      cls, "initWithAssetCollection:itemCount:"_sel,
      +[](id self, SEL, id collection, long long count) -> id {
        auto* me = static_cast<PXNavigationListAssetCollectionItem*>(self);
        me->collection = collection;
        me->title = static_cast<NSString*>(msg<id>(collection, "localizedTitle"_sel));
        me->itemCount = count;
        return self;
      });
  addMethod(
      cls, "collection"_sel, +[](id self, SEL) -> id {
        return static_cast<PXNavigationListAssetCollectionItem*>(self)->collection.get();
      });
  return cls;
}

}  // namespace

Class listItemClass() {
  static Class cls = defineListItem();
  return cls;
}

Class assetCollectionItemClass() {
  static Class cls = defineAssetCollectionItem();
  return cls;
}

Strong<objc_object> newListItem(id collection, long long count) {
  id fresh = msg<id>(assetCollectionItemClass(), "alloc"_sel);
  return adopt(msg<id>(fresh, "initWithAssetCollection:itemCount:"_sel, collection, count));
}

}  // namespace photos
