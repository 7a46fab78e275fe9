// The Photos app (MobileSlideShow) of the simulated device, as its program
// drives it: start-up (classes, bundles), installation onto a device, and the
// app itself, whose methods are what a person does on screen.
//
//   photos::registerClasses();   // the app's classes; the library alone has none
//   photos::bootBundles();       // main bundle and frameworks
//   ... the hooking runtime loads its libraries ...
//   photos::PhotosApp app([](const std::string& line) { print(line); });
//   app.tap("Hidden");
//
// Every navigation the app makes it makes by sending the app classes'
// selectors through the runtime (never by calling C++ directly), so that
// replacements installed by a loaded library apply.
//
// On an iPhone the album list sits in a navigation controller, and a tap on a
// row sends _navigateTolistItem:animated: (YES) to the list gadget. On an iPad
// a sidebar lists the albums beside a secondary navigation controller that
// starts at the album list, and a tap sends the sidebar
// _navigateToDestinationForItem:sameItem:completionHandler:, with sameItem YES
// when the album is already shown; when the app's completion handler runs,
// the event sink gets `completed <title>`.
//
// Ownership: the app owns its view controllers. Methods that return an
// object return it +0.
//
// Thread safety: main thread only. The device root must be set first.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/objc/nsobject.h"
#include "platform/photos/list_gadget.h"
#include "platform/photos/view_controllers.h"

namespace photos {

// Where the app and its frameworks live, as the system spells the paths.
inline constexpr char kAppBundlePath[] = "/Applications/MobileSlideShow.app";
inline constexpr char kPhotosUICorePath[] =
    "/System/Library/PrivateFrameworks/PhotosUICore.framework";
inline constexpr char kPhotosPath[] = "/System/Library/Frameworks/Photos.framework";
// A framework folder that carries no Info.plist.
inline constexpr char kPhotoLibraryServicesPath[] =
    "/System/Library/PrivateFrameworks/PhotoLibraryServices.framework";

// Defines the app's classes (PHAssetCollection, the list items and views,
// PXNavigationListGadget with the generation of the device's system version,
// the view controllers). Call once, after the device root is set and before
// any library is loaded into the process.
void registerClasses();

// Makes the app's bundle the main bundle and records its framework bundles
// as loaded: PhotosUICore, Photos, and PhotoLibraryServices (no Info.plist).
void bootBundles();

// Installs the app onto the device: its bundle's and frameworks' Info.plist
// files and a photo library with the default albums. Returns "" or an error.
std::string installApp();

class PhotosApp {
 public:
  using EventSink = std::function<void(const std::string&)>;

  // Opens the photo library and builds the screens. A library that cannot be
  // read leaves the list empty; libraryError() says why.
  explicit PhotosApp(EventSink events);
  ~PhotosApp();
  PhotosApp(const PhotosApp&) = delete;
  PhotosApp& operator=(const PhotosApp&) = delete;

  // The album list drawn anew: its items made and its cells configured,
  // one line per row, `album <title>: <badge>`.
  std::vector<std::string> albums();
  // Whether a touch reaches the app now: "" when it does, else why not (the
  // app is in the background, or a system alert such as the authentication
  // prompt is over it). tap() and back() ask first.
  std::string refuseTouch() const;
  // A tap on the album titled `title`. Returns "" or an error, e.g.
  // `no album named "X"`.
  std::string tap(std::string_view title);
  // The navigation back button: one level up. "" or an error.
  std::string back();
  // The titles of the navigation stack joined by " > " ("Albums > Hidden");
  // on iPad the secondary stack's.
  std::string where() const;
  // The app leaves the screen: UIKit's will-resign-active handlers run (a
  // pending authentication prompt gets the system's cancel), then the albums
  // view controller is sent _applicationDidEnterBackground: with a
  // UIApplicationDidEnterBackground notification. "" or an error.
  std::string background();
  // The app returns to the screen. "" or an error.
  std::string foreground();

  bool isPad() const { return pad_; }
  bool inBackground() const { return background_; }
  const std::string& libraryError() const { return library_error_; }

  // The navigation controller that shows the album list (iPad: the secondary one).
  id navigationController() const { return navigation_.get(); }
  PUAlbumsGadgetViewController* albumsViewController() const { return albums_.get(); }
  PXNavigationListGadget* gadget() const { return albums_->gadget.get(); }
  // nil on iPhone.
  PUSidebarViewController* sidebar() const { return sidebar_.get(); }

 private:
  EventSink events_;
  bool pad_ = false;
  bool background_ = false;
  std::string library_error_;
  Strong<PUAlbumsGadgetViewController> albums_;
  Strong<objc_object> navigation_;
  Strong<PUSidebarViewController> sidebar_;
};

}  // namespace photos
