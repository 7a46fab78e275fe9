# How one slice of a phone image is made, shared by the phone build
# (phone/CMakeLists.txt) and the benchmarks' phone images (bench/), which
# must come out of the same route:
#
#   arm64   compiled for arm64-apple-ios14.0, linked with opcode fixups
#   arm64e  compiled for arm64e-apple-ios14.0 through
#           record_signed_pointers.py, linked as arm64 with chained fixups,
#           then finished into an arm64e image by finish-arm64e
#
# The caller sets PHONE_LD (ld64.lld-22), PHONE_PYTHON (python3) and
# PHONE_FINISH (the finish-arm64e program, built by phone_finish_program).
set(PHONE_SCRIPTS ${CMAKE_CURRENT_LIST_DIR})
set(PHONE_STUBS ${CMAKE_CURRENT_LIST_DIR}/stubs)

# The command that compiles for ARCH with COMPILER: for arm64e the compiler
# runs under the launcher that records signed pointers.
function(phone_compiler_launcher out arch)
  if(arch STREQUAL "arm64e")
    set(${out} ${PHONE_PYTHON} ${PHONE_SCRIPTS}/record_signed_pointers.py PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# The rule that builds finish-arm64e (a program of this machine's) at
# OUTPUT with HOST_CXX, LLVM's Mach-O header from LLVM_INCLUDE and
# libcrypto's flags CRYPTO_FLAGS.
function(phone_finish_program)
  cmake_parse_arguments(F "" "OUTPUT;HOST_CXX;LLVM_INCLUDE" "CRYPTO_FLAGS" ${ARGN})
  set(sources macho_file.cc chained_fixups.cc code_signature.cc finish.cc main.cc)
  list(TRANSFORM sources PREPEND ${PHONE_SCRIPTS}/finish-arm64e/)
  file(GLOB headers ${PHONE_SCRIPTS}/finish-arm64e/*.h)
  get_filename_component(source_root ${PHONE_SCRIPTS}/.. ABSOLUTE)
  add_custom_command(
    OUTPUT ${F_OUTPUT}
    COMMAND ${F_HOST_CXX} -std=c++20 -O1 -I${source_root} -isystem ${F_LLVM_INCLUDE}
            -DLLVM_DISABLE_ABI_BREAKING_CHECKS_ENFORCING=1 ${sources} ${F_CRYPTO_FLAGS}
            -o ${F_OUTPUT}
    DEPENDS ${sources} ${headers}
    COMMAND_EXPAND_LISTS
    COMMENT "Building finish-arm64e")
endfunction()

# Links OBJECTS into the slice OUTPUT for ARCH: KIND is -dylib ... or
# -bundle, STUBS the link stubs' names (phone/stubs/<name>.tbd), DEPENDS
# what the objects are made by.
function(phone_link_slice)
  cmake_parse_arguments(S "" "OUTPUT;ARCH" "OBJECTS;KIND;STUBS;DEPENDS" ${ARGN})
  set(stub_files ${S_STUBS})
  list(TRANSFORM stub_files PREPEND ${PHONE_STUBS}/)
  list(TRANSFORM stub_files APPEND .tbd)
  get_filename_component(folder ${S_OUTPUT} DIRECTORY)
  if(S_ARCH STREQUAL "arm64")
    set(linked ${S_OUTPUT})
    set(chains -no_fixup_chains)
  else()
    set(linked ${S_OUTPUT}.linked)
    set(chains -fixup_chains)
  endif()
  add_custom_command(
    OUTPUT ${linked}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${PHONE_LD} -arch arm64 -platform_version ios 14.0 16.0 -adhoc_codesign -dead_strip
            ${chains} ${S_KIND} ${S_OBJECTS} ${stub_files} -o ${linked}
    DEPENDS ${S_DEPENDS} ${S_OBJECTS} ${stub_files}
    COMMAND_EXPAND_LISTS
    COMMENT "Linking ${S_OUTPUT} for ${S_ARCH} iOS")
  if(NOT S_ARCH STREQUAL "arm64")
    add_custom_command(
      OUTPUT ${S_OUTPUT}
      COMMAND ${PHONE_FINISH} ${linked} ${S_OUTPUT}
      DEPENDS ${linked} ${PHONE_FINISH}
      COMMENT "Finishing ${S_OUTPUT} as arm64e")
  endif()
endfunction()
