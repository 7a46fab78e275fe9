# The phone build's toolchain: Debian's clang 22 compiling for arm64 iOS 14
# (and, per target, arm64e), freestanding (the build has no SDK, so no C or
# C++ library headers), and ld64.lld-22 linking against the link stubs in
# phone/stubs.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_CXX_COMPILER clang++-22)
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-ios14.0)
set(CMAKE_AR llvm-ar-22)
set(CMAKE_RANLIB llvm-ranlib-22)
# The compiler is checked by making a static library: nothing links yet.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
