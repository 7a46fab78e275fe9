#include "tests/phone/uikit.h"

namespace velmo::phone {
namespace {

constexpr const char* kRect = "{CGRect={CGPoint=dd}{CGSize=dd}}";
constexpr const char* kAnchors[] = {"topAnchor",     "leadingAnchor", "trailingAnchor",
                                    "bottomAnchor",  "widthAnchor",   "heightAnchor",
                                    "centerXAnchor", "centerYAnchor"};

}  // namespace

UIKit::UIKit(Runtime& runtime, Foundation& foundation, DeviceFiles& files)
    : rt_(runtime), foundation_(foundation), files_(files) {
  rt_.DefineClass("UIDevice")
      .ClassMethod("currentDevice", "@#:",
                   [this](Msg&) -> Value {
                     if (device_ == 0)
                       throw ModelError("the test set no device (UIKit::SetDevice)");
                     return device_;
                   })
      .Method("model", "@@:", [this](Msg& m) -> Value { return rt_.Field(m.self(), "model"); })
      .Method("systemVersion",
              "@@:", [this](Msg& m) -> Value { return rt_.Field(m.self(), "systemVersion"); });
  DefineViews();
  DefineDrawing();
}

uint64_t UIKit::New(const std::string& cls) { return rt_.AllocObject(&rt_.Class(cls)); }

void UIKit::SetDevice(const std::string& model, const std::string& system_version) {
  if (device_ == 0) device_ = foundation_.Immortal(New("UIDevice"));
  rt_.SetField(device_, "model", foundation_.Immortal(rt_.Retain(foundation_.String(model))));
  rt_.SetField(device_, "systemVersion",
               foundation_.Immortal(rt_.Retain(foundation_.String(system_version))));
}

uint64_t UIKit::SystemColor(const std::string& name) {
  uint64_t cls = rt_.Class("UIColor").address;
  return rt_.Send(cls, name).u;
}

void UIKit::DefineViews() {
  // A view's frame, subviews (its items), superview (not retained), layer
  // and the anchors of its edges and centre.
  ClassDef view = rt_.DefineClass("UIView", "NSObject");
  view.Method("initWithFrame:", std::string("@@:") + kRect,
              [this](Msg& m) -> Value {
                rt_.Fields(m.self()).values["frame"] = m.Arg(0);
                return m.self();
              })
      .Method("frame", std::string(kRect) + "@:",
              [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["frame"]; })
      .Method("addSubview:", "v@:@",
              [this](Msg& m) -> Value {
                if (m.U(0) == 0) throw ModelError("-[UIView addSubview:] with nil");
                rt_.Fields(m.self()).items.push_back(rt_.Retain(m.U(0)));
                rt_.Fields(m.U(0)).values["superview"] = m.self();
                return {};
              })
      .Method("superview",
              "@@:", [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["superview"]; })
      .Method("layer", "@@:",
              [this](Msg& m) -> Value {
                if (uint64_t layer = rt_.Field(m.self(), "layer")) return layer;
                uint64_t layer = New("CALayer");
                rt_.SetField(m.self(), "layer", layer);
                rt_.Release(layer);
                return layer;
              })
      .Scalar("translatesAutoresizingMaskIntoConstraints", "B");
  for (int i = 0; i < 8; ++i) {
    view.Method(kAnchors[i], "@@:", [this, i](Msg& m) -> Value {
      uint64_t anchor = New("NSLayoutAnchor");
      rt_.Fields(anchor).values["view"] = m.self();
      rt_.Fields(anchor).values["attribute"] = i;
      return rt_.Autorelease(anchor);
    });
  }
  auto constraint = [this](uint64_t anchor, uint64_t other, double constant) {
    uint64_t c = New("NSLayoutConstraint");
    auto& values = rt_.Fields(c).values;
    values["firstView"] = rt_.Fields(anchor).values["view"];
    values["firstAttribute"] = rt_.Fields(anchor).values["attribute"];
    if (other != 0) {
      values["secondView"] = rt_.Fields(other).values["view"];
      values["secondAttribute"] = rt_.Fields(other).values["attribute"];
    }
    values["constant"] = constant;
    return rt_.Autorelease(c);
  };
  rt_.DefineClass("NSLayoutAnchor")
      .Method("constraintEqualToAnchor:", "@@:@",
              [this, constraint](Msg& m) -> Value {
                if (!rt_.IsKindOf(m.U(0), "NSLayoutAnchor"))
                  throw ModelError("constraintEqualToAnchor: with something not an anchor");
                return constraint(m.self(), m.U(0), 0);
              })
      .Method("constraintEqualToConstant:", "@@:d",
              [constraint](Msg& m) -> Value { return constraint(m.self(), 0, m.D(0)); });
  rt_.DefineClass("NSLayoutConstraint")
      .ClassMethod("activateConstraints:", "v#:@", [this](Msg& m) -> Value {
        std::vector<Constraint> list;
        for (uint64_t c : foundation_.Items(m.U(0))) {
          if (!rt_.IsKindOf(c, "NSLayoutConstraint"))
            throw ModelError("activateConstraints: with something not a constraint");
          auto& v = rt_.Fields(c).values;
          Constraint k;
          k.first_view = v["firstView"].u;
          k.first_attribute = kAnchors[v["firstAttribute"].u];
          if (v.count("secondView")) {
            k.second_view = v["secondView"].u;
            k.second_attribute = kAnchors[v["secondAttribute"].u];
          }
          k.constant = v["constant"].d[0];
          list.push_back(k);
        }
        activations_.push_back(std::move(list));
        return {};
      });

  rt_.DefineClass("UILabel", "UIView")
      .Property("text")
      .Property("textColor")
      .Property("font")
      .Property("attributedText")
      .Scalar("textAlignment", "q");
  rt_.DefineClass("UIImageView", "UIView").Property("image").Scalar("contentMode", "q");
  rt_.DefineClass("UIControl", "UIView")
      .Method("addTarget:action:forControlEvents:", "v@:@:Q", [this](Msg& m) -> Value {
        // A control does not retain its target.
        auto& values = rt_.Fields(m.self()).values;
        values["target"] = m.U(0);
        values["action"] = m.U(1);
        values["events"] = m.U(2);
        return {};
      });
  rt_.DefineClass("UISwitch", "UIControl")
      .Property("tintColor")
      .Property("onTintColor")
      .Method("isOn", "B@:", [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["on"]; })
      .Method("setOn:animated:", "v@:BB", [this](Msg& m) -> Value {
        rt_.Fields(m.self()).values["on"] = m.B(0);
        switch_sets_.push_back({m.self(), m.B(0), m.B(1)});
        return {};
      });
  rt_.DefineClass("UIBarButtonItem")
      .Method("initWithCustomView:", "@@:@",
              [this](Msg& m) -> Value {
                rt_.SetField(m.self(), "customView", m.U(0));
                return m.self();
              })
      .Method("customView",
              "@@:", [this](Msg& m) -> Value { return rt_.Field(m.self(), "customView"); });
  rt_.DefineClass("UINavigationItem").Property("titleView").Property("rightBarButtonItem");
  rt_.DefineClass("UIResponder");
  rt_.DefineClass("UIViewController", "UIResponder")
      .Property("navigationController")
      .Method("navigationItem", "@@:", [this](Msg& m) -> Value {
        if (uint64_t item = rt_.Field(m.self(), "navigationItem")) return item;
        uint64_t item = New("UINavigationItem");
        rt_.SetField(m.self(), "navigationItem", item);
        rt_.Release(item);
        return item;
      });
  rt_.DefineClass("UINavigationController", "UIViewController")
      .Method("popToRootViewControllerAnimated:", "@@:B", [this](Msg& m) -> Value {
        pops_.push_back({m.self(), m.B(0)});
        return foundation_.Array({});
      });
  rt_.DefineClass("UITableView", "UIView").Property("tableHeaderView");
  rt_.DefineClass("UITableViewCell", "UIView");
  rt_.DefineClass("CALayer")
      .Scalar("shadowColor", "^v")
      .Scalar("shadowOffset", "{CGSize=dd}")
      .Scalar("shadowOpacity", "f")
      .Scalar("shadowRadius", "d");
}

void UIKit::DefineDrawing() {
  // Colours: the system ones are shared and named; each colour has a
  // CGColor of its own, made when first asked for and kept with it.
  auto cg_color = [this](Msg& m) -> Value {
    if (uint64_t cg = rt_.Field(m.self(), "CGColor")) return cg;
    uint64_t cg = New("CGColor");
    rt_.SetField(m.self(), "CGColor", cg);
    rt_.Release(cg);
    if (rt_.RetainCount(m.self()) == UINT64_MAX) foundation_.Immortal(cg);
    return cg;
  };
  ClassDef color = rt_.DefineClass("UIColor");
  color.Method("CGColor", "@@:", cg_color)
      .Method("red", "d@:", [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["red"]; })
      .Method("green",
              "d@:", [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["green"]; })
      .Method("blue",
              "d@:", [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["blue"]; })
      .Method("alpha",
              "d@:", [this](Msg& m) -> Value { return rt_.Fields(m.self()).values["alpha"]; })
      .ClassMethod("colorWithRed:green:blue:alpha:", "@#:dddd", [this](Msg& m) -> Value {
        uint64_t c = New("UIColor");
        auto& values = rt_.Fields(c).values;
        values["red"] = m.D(0);
        values["green"] = m.D(1);
        values["blue"] = m.D(2);
        values["alpha"] = m.D(3);
        return rt_.Autorelease(c);
      });
  for (const char* name : {"systemGrayColor", "labelColor"}) {
    color.ClassMethod(name, "@#:", [this, name = std::string(name)](Msg&) -> Value {
      uint64_t& c = system_colors_[name];
      if (c == 0) {
        c = foundation_.Immortal(New("UIColor"));
        rt_.SetField(c, "name", foundation_.Immortal(rt_.Retain(foundation_.String(name))));
      }
      return c;
    });
  }
  rt_.DefineClass("CGColor");
  rt_.DefineClass("UIFont").ClassMethod("boldSystemFontOfSize:", "@#:d", [this](Msg& m) -> Value {
    uint64_t font = New("UIFont");
    rt_.Fields(font).values["size"] = m.D(0);
    rt_.Fields(font).values["bold"] = true;
    return rt_.Autorelease(font);
  });

  // Images: a system symbol by name, a file (nil when it is missing), and a
  // tinted copy.
  rt_.DefineClass("UIImage")
      .ClassMethod("systemImageNamed:", "@#:@",
                   [this](Msg& m) -> Value {
                     uint64_t image = New("UIImage");
                     rt_.SetField(image, "symbolName", m.U(0));
                     return rt_.Autorelease(image);
                   })
      .ClassMethod("imageWithContentsOfFile:", "@#:@",
                   [this](Msg& m) -> Value {
                     if (!files_.Exists(m.Str(0))) return 0;
                     uint64_t image = New("UIImage");
                     rt_.SetField(image, "path", m.U(0));
                     return rt_.Autorelease(image);
                   })
      .Method("imageWithTintColor:", "@@:@", [this](Msg& m) -> Value {
        uint64_t image = New("UIImage");
        for (const char* field : {"symbolName", "path"})
          rt_.SetField(image, field, rt_.Field(m.self(), field));
        rt_.SetField(image, "tintColor", m.U(0));
        return rt_.Autorelease(image);
      });

  rt_.DefineClass("NSTextAttachment").Property("image");
  rt_.DefineClass("NSAttributedString")
      .ClassMethod("attributedStringWithAttachment:", "@#:@",
                   [this](Msg& m) -> Value {
                     if (!rt_.IsKindOf(m.U(0), "NSTextAttachment"))
                       throw ModelError("attributedStringWithAttachment: of a non-attachment");
                     uint64_t text = New("NSAttributedString");
                     rt_.SetField(text, "attachment", m.U(0));
                     // The attachment character, U+FFFC.
                     rt_.SetField(text, "string", foundation_.String("\xef\xbf\xbc"));
                     return rt_.Autorelease(text);
                   })
      .Method("initWithString:", "@@:@",
              [this](Msg& m) -> Value {
                if (m.U(0) == 0) throw ModelError("-[NSAttributedString initWithString:] with nil");
                rt_.SetField(m.self(), "string", m.U(0));
                return m.self();
              })
      .Method("string", "@@:", [this](Msg& m) -> Value { return rt_.Field(m.self(), "string"); });
}

}  // namespace velmo::phone
