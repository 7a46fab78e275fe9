// UIKit (and the bits of Foundation and QuartzCore that UIKit objects hand
// out) as the two phone binaries use it: the device facts, view controllers
// and navigation, views, labels, image views, switches, bar items, colours,
// fonts, images and system symbols, text attachments and attributed strings,
// layout anchors and constraints, layers and table views.
//
// Objects keep what they are given in their fields (Runtime::Fields), so a
// test reads back what an image set: Field(label, "attributedText").
// Shared instances (the current device, the system colours) live as long as
// the model. Used from one thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/phone/device_files.h"
#include "tests/phone/foundation.h"
#include "tests/phone/objc_runtime.h"

namespace velmo::phone {

class UIKit {
 public:
  // One layout constraint as activated: first.attribute = second.attribute
  // (second_view 0: = constant).
  struct Constraint {
    uint64_t first_view = 0;
    std::string first_attribute;
    uint64_t second_view = 0;
    std::string second_attribute;
    double constant = 0;
  };
  struct Pop {
    uint64_t navigation_controller = 0;
    bool animated = false;
  };
  struct SwitchSet {
    uint64_t control = 0;
    bool on = false, animated = false;
  };

  UIKit(Runtime& runtime, Foundation& foundation, DeviceFiles& files);

  // +[UIDevice currentDevice]'s model and systemVersion.
  void SetDevice(const std::string& model, const std::string& system_version);
  // A shared system colour (+systemGrayColor, +labelColor).
  uint64_t SystemColor(const std::string& name);

  // Each +[NSLayoutConstraint activateConstraints:] call, in order.
  const std::vector<std::vector<Constraint>>& activations() const { return activations_; }
  const std::vector<Pop>& pops() const { return pops_; }
  const std::vector<SwitchSet>& switch_sets() const { return switch_sets_; }

 private:
  uint64_t New(const std::string& cls);  // +1
  void DefineViews();
  void DefineDrawing();

  Runtime& rt_;
  Foundation& foundation_;
  DeviceFiles& files_;
  uint64_t device_ = 0;
  std::map<std::string, uint64_t> system_colors_;
  std::vector<std::vector<Constraint>> activations_;
  std::vector<Pop> pops_;
  std::vector<SwitchSet> switch_sets_;
};

}  // namespace velmo::phone
