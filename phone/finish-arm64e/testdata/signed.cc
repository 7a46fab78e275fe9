// A small image with one pointer of each kind the finishing step meets:
// signed and plain, to this image and to an import, with and without the
// storage address, and a weak copy that two objects share.
#include <ptrauth.h>

extern "C" {
void imported_function();
extern char ImportedClass[];
extern char imported_data[];

void local_function() {}
void other_function() {}

// Plain function pointers: IA, no address, discriminator 0.
void (*function_table[])() = {local_function, other_function, imported_function};

// An isa as constant strings have it: DA, the address, 0x6AE1.
struct Constant {
  void* __ptrauth(ptrauth_key_asda, 1, 0x6AE1) isa;
  long value;
};
Constant constant = {ImportedClass, 7};

// A block helper as the blocks runtime keeps it: IA, the address, 0.
struct Helpers {
  void (*__ptrauth(ptrauth_key_asia, 1, 0) copy)();
  void (*__ptrauth(ptrauth_key_asib, 0, 1234) other)();
};
Helpers helpers = {local_function, other_function};

// Plain data pointers stay plain.
char local_data[16];
char* plain_pointers[] = {local_data, imported_data, imported_data + 4};
}

// A template's static: each object that uses it has a copy, one survives.
// Built hidden, as the deliverables' are, the linker keeps the copy in this
// image; exported (SHARED_VISIBILITY "default"), it binds it by name.
template <int N>
struct __attribute__((visibility(SHARED_VISIBILITY))) Shared {
  static inline void (*slot)() = local_function;
};
extern "C" void (**shared_slot())() { return &Shared<1>::slot; }
