// The host processes' own classes, for the processes the tweak is loaded
// into: PhotosApp defines the Photos app's album list, sidebar, albums and
// cells; PrivacyDaemon the privacy daemon's TCCDService. A process has only
// the classes of the host made in it, so a tweak loaded into the daemon
// finds no Photos class. The host's own implementations record each call
// (they are what a hook's slot holds) and answer as the host would.
// Used from one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/phone/phone_model.h"

namespace velmo::phone {

class PhotosApp {
 public:
  enum class Album { kOrdinary, kHidden, kRecentlyDeleted };
  struct ListNavigation {
    uint64_t receiver = 0, item = 0;
    bool animated = false;
    uint64_t result = 0;  // what the host returned (autoreleased)
    bool on_main = true;
  };
  struct SidebarNavigation {
    uint64_t receiver = 0, item = 0;
    bool same_item = false;
    uint64_t handler = 0;
    bool on_main = true;
  };
  struct Call {
    uint64_t receiver = 0, a = 0, b = 0, c = 0;
    int64_t n = 0;
  };

  explicit PhotosApp(PhoneModel& phone);

  // Autoreleased host objects.
  uint64_t Collection(Album album);
  uint64_t ListItem(Album album);  // a list item (or sidebar item) of an album
  uint64_t NewObject(const std::string& cls);
  // A list cell whose badge label the host fills; BadgeLabel(cell) is it.
  uint64_t Cell();
  uint64_t BadgeLabel(uint64_t cell);

  const std::vector<ListNavigation>& list_navigations() const { return list_; }
  const std::vector<SidebarNavigation>& sidebar_navigations() const { return sidebar_; }
  const std::vector<Call>& backgrounds() const { return backgrounds_; }  // receiver, a=notification
  const std::vector<Call>& configured_cells() const {
    return configured_;
  }                                                                    // a=cell b=item c=color
  const std::vector<Call>& item_inits() const { return item_inits_; }  // a=collection, n=count
  // The album questions asked, in order: "hidden", "recentlyDeleted".
  const std::vector<std::string>& questions() const { return questions_; }

 private:
  PhoneModel& phone_;
  std::vector<ListNavigation> list_;
  std::vector<SidebarNavigation> sidebar_;
  std::vector<Call> backgrounds_, configured_, item_inits_;
  std::vector<std::string> questions_;
};

class PrivacyDaemon {
 public:
  struct AllowList {
    uint64_t service = 0, list = 0;
    std::string list_class;
    std::vector<std::string> identifiers;
  };
  explicit PrivacyDaemon(PhoneModel& phone);
  uint64_t Service(const std::string& name);  // autoreleased TCCDService
  const std::vector<AllowList>& allow_lists() const { return allow_lists_; }

 private:
  PhoneModel& phone_;
  std::vector<AllowList> allow_lists_;
};

}  // namespace velmo::phone
