// UIKit of the simulated device: everything a program or a library built on
// it includes. Each class is registered with the runtime when velmo-uikit
// loads, so objc_getClass finds it by name from the start.
#pragma once

#include "platform/uikit/calayer.h"
#include "platform/uikit/geometry.h"
#include "platform/uikit/layout.h"
#include "platform/uikit/nsattributedstring.h"
#include "platform/uikit/nsindexpath.h"
#include "platform/uikit/nsnotification.h"
#include "platform/uikit/nstextattachment.h"
#include "platform/uikit/uiapplication.h"
#include "platform/uikit/uibarbuttonitem.h"
#include "platform/uikit/uicolor.h"
#include "platform/uikit/uicontrol.h"
#include "platform/uikit/uidevice.h"
#include "platform/uikit/uifont.h"
#include "platform/uikit/uiimage.h"
#include "platform/uikit/uiimageview.h"
#include "platform/uikit/uilabel.h"
#include "platform/uikit/uinavigationbar.h"
#include "platform/uikit/uinavigationcontroller.h"
#include "platform/uikit/uinavigationitem.h"
#include "platform/uikit/uiresponder.h"
#include "platform/uikit/uitableview.h"
#include "platform/uikit/uiview.h"
#include "platform/uikit/uiviewcontroller.h"
#include "platform/uikit/uiwindow.h"
