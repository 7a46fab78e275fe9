// The second object with a copy of signed.cc's template static.
template <int N>
struct __attribute__((visibility(SHARED_VISIBILITY))) Shared {
  static void local() {}
  static inline void (*slot)() = nullptr;
};
extern "C" void local_function();
template <>
inline void (*Shared<1>::slot)() = local_function;
extern "C" void (**second_shared_slot())() { return &Shared<1>::slot; }
