// NSTextAttachment: an image that sits in attributed text as one character.
// -image/-setImage:, +textAttachmentWithImage:. It describes itself as its
// image's description ("[lock.fill systemGrayColor]"), or "[attachment]"
// when it has no image.
//
// Ownership: an attachment keeps its image.
//
// Thread safety: none; use from one thread at a time.
#pragma once

#include <string>

#include "platform/objc/nsobject.h"
#include "platform/uikit/uiimage.h"

struct NSTextAttachment : NSObject {
  Strong<UIImage> image;
};

namespace uikit {

Class textAttachmentClass();
std::string describeAttachment(id attachment);

}  // namespace uikit
