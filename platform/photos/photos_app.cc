#include "platform/photos/photos_app.h"

#include <filesystem>
#include <system_error>

#include "platform/foundation/collections.h"
#include "platform/foundation/device.h"
#include "platform/foundation/nsbundle.h"
#include "platform/foundation/nsstring.h"
#include "platform/foundation/plist.h"
#include "platform/objc/block.h"
#include "platform/photos/asset_collection.h"
#include "platform/photos/list_items.h"
#include "platform/photos/list_views.h"
#include "platform/photos/photo_library.h"
#include "platform/uikit/nsnotification.h"
#include "platform/uikit/uiapplication.h"
#include "platform/uikit/uinavigationcontroller.h"

namespace photos {
namespace {

struct BundleInfo {
  const char* path;
  const char* identifier;  // nullptr: the bundle has no Info.plist
  const char* name;
  const char* executable;
};

const BundleInfo kBundles[] = {
    {kAppBundlePath, "com.apple.mobileslideshow", "Photos", "MobileSlideShow"},
    {kPhotosUICorePath, "com.apple.PhotosUICore", "PhotosUICore", "PhotosUICore"},
    {kPhotosPath, "com.apple.Photos", "Photos", "Photos"},
    {kPhotoLibraryServicesPath, nullptr, nullptr, nullptr},
};

std::string writeBundle(const BundleInfo& bundle) {
  std::string folder = device::devicePath(bundle.path);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return "cannot create " + folder + ": " + ec.message();
  if (bundle.identifier == nullptr) return "";
  Strong<NSDictionary> info = foundation::newDictionary(/*mutable_=*/true);
  msg<void>(info, "setObject:forKey:"_sel, foundation::makeString(bundle.identifier),
            "CFBundleIdentifier"_ns);
  msg<void>(info, "setObject:forKey:"_sel, foundation::makeString(bundle.name), "CFBundleName"_ns);
  msg<void>(info, "setObject:forKey:"_sel, foundation::makeString(bundle.executable),
            "CFBundleExecutable"_ns);
  return plist::writeFile(folder + "/Info.plist", info);
}

// The titles of a navigation controller's stack, bottom first.
std::vector<std::string> stackTitles(id navigation) {
  std::vector<std::string> titles;
  id controllers = msg<id>(navigation, "viewControllers"_sel);
  if (!foundation::isArray(controllers)) return titles;
  for (const auto& controller : static_cast<NSArray*>(controllers)->items) {
    titles.push_back(foundation::stdString(msg<id>(controller, "title"_sel)));
  }
  return titles;
}

}  // namespace

std::string PhotosApp::refuseTouch() const {
  if (background_) return "the app is in the background";
  // A system alert over the app takes every touch itself.
  if (std::optional<std::string> alert = uikit::systemAlert()) {
    return *alert + " is on screen: answer or cancel it first";
  }
  return "";
}

void registerClasses() {
  assetCollectionClass();
  listItemClass();
  assetCollectionItemClass();
  badgeViewClass();
  listCellClass();
  listGadgetClass();
  albumsViewControllerClass();
  albumViewControllerClass();
  sidebarItemClass();
  sidebarViewControllerClass();
}

void bootBundles() {
  foundation::setMainBundle(kAppBundlePath);
  foundation::addLoadedBundle(kPhotosUICorePath);
  foundation::addLoadedBundle(kPhotosPath);
  foundation::addLoadedBundle(kPhotoLibraryServicesPath);
}

std::string installApp() {
  objc::AutoreleasePool pool;
  for (const BundleInfo& bundle : kBundles) {
    if (std::string error = writeBundle(bundle); !error.empty()) return error;
  }
  return writeLibrary(defaultAlbums());
}

PhotosApp::PhotosApp(EventSink events) : events_(std::move(events)) {
  objc::AutoreleasePool pool;
  pad_ = device::readConfig().model.find("iPad") != std::string::npos;
  Library library = readLibrary();
  library_error_ = library.error;
  Strong<NSArray> collections = foundation::newArray();
  for (const auto& collection : library.collections) collections->items.emplace_back(collection);

  albums_ = newAlbumsViewController(collections);
  id navigation = msg<id>(uikit::navigationControllerClass(), "alloc"_sel);
  navigation_ = adopt(msg<id>(navigation, "initWithRootViewController:"_sel, albums_.get()));
  if (pad_) sidebar_ = newSidebarViewController(collections, navigation_);
  reloadListItems(albums_->gadget);
}

PhotosApp::~PhotosApp() = default;

std::vector<std::string> PhotosApp::albums() { return drawList(albums_->gadget); }

std::string PhotosApp::tap(std::string_view title) {
  if (std::string refused = refuseTouch(); !refused.empty()) return refused;
  objc::AutoreleasePool pool;
  std::string missing = "no album named \"" + std::string(title) + "\"";
  if (pad_) {
    id item = sidebarItemTitled(sidebar_, title);
    if (item == nullptr) return missing;
    BOOL same_item = showsAlbum(navigation_, msg<id>(item, "collection"_sel));
    // The handler may run long after the tap (after an authentication), so it
    // keeps its own copy of the sink.
    auto completed =
        makeBlock<void()>([events = events_, line = "completed " + std::string(title)] {
          if (events) events(line);
        });
    msg<void>(sidebar_, "_navigateToDestinationForItem:sameItem:completionHandler:"_sel, item,
              same_item, completed.get());
    return "";
  }
  if (msg<id>(navigation_, "topViewController"_sel) != albums_.get()) {
    return "the album list is not on screen";
  }
  id item = listItemTitled(albums_->gadget, title);
  if (item == nullptr) return missing;
  msg<id>(albums_->gadget, "_navigateTolistItem:animated:"_sel, item, YES);
  return "";
}

std::string PhotosApp::back() {
  if (std::string refused = refuseTouch(); !refused.empty()) return refused;
  objc::AutoreleasePool pool;
  if (stackTitles(navigation_).size() <= 1) return "no back button on the album list";
  msg<id>(navigation_, "popViewControllerAnimated:"_sel, YES);
  return "";
}

std::string PhotosApp::where() const {
  objc::AutoreleasePool pool;
  std::string path;
  for (const std::string& title : stackTitles(navigation_)) {
    if (!path.empty()) path += " > ";
    path += title;
  }
  return path;
}

std::string PhotosApp::background() {
  if (background_) return "the app is already in the background";
  objc::AutoreleasePool pool;
  // Leaving the screen first ends what must not outlive it (a prompt).
  uikit::applicationWillResignActive();
  background_ = true;
  id notification = msg<id>(uikit::notificationClass(), "notificationWithName:object:"_sel,
                            "UIApplicationDidEnterBackgroundNotification"_ns, nullptr);
  msg<void>(albums_, "_applicationDidEnterBackground:"_sel, notification);
  return "";
}

std::string PhotosApp::foreground() {
  if (!background_) return "the app is already on screen";
  background_ = false;
  return "";
}

}  // namespace photos
