// A signed pointer into an import at an offset: an authenticated bind
// cannot carry the addend.
#include <ptrauth.h>

extern "C" {
extern char imported_data[];
void* __ptrauth(ptrauth_key_asda, 0, 0) inside = imported_data + 8;
}
