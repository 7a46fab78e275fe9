// The Face ID grant: in the Photos app every bundle's information dictionary
// carries the Face ID usage description (the prompt's text), and in the
// privacy daemon the Face ID service's default allow list gains the Photos
// app's two identifiers. Neither changes the object it was given: each call
// builds a new copy.
#pragma once

#include "runtime/objc.h"

namespace velmo {

// -[NSBundle infoDictionary]
extern id (*originalInfoDictionary)(id, SEL);
id usageText(id self, SEL _cmd);

// -[TCCDService setDefaultAllowedIdentifiersList:]
extern void (*originalSetDefaultAllowedIdentifiersList)(id, SEL, id);
void allowList(id self, SEL _cmd, id list);

}  // namespace velmo
