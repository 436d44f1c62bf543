# Hardened build flags of the library and the host programs.
#
# None of them touches floating-point code generation: they add a stack
# canary check to functions with arrays on the stack, bounds-checked
# variants of libc calls whose object sizes the compiler knows, and control
# flow markers; the linker makes the relocations read-only after start-up
# and the stack non-executable. Results stay equal to the last bit.
# tests/runtime/hardening.cpp checks the built library for each of them.
option(GUIDE_HARDEN "Build the library and the tools with hardening flags" ON)
option(GUIDE_SANITIZE "Sanitizer build (set by the asan-ubsan preset)" OFF)

if(GUIDE_HARDEN)
  # _FORTIFY_SOURCE only acts with optimisation; the model is always built
  # -O2 (GUIDE_FP_FLAGS). Undefine first: some toolchains predefine a level.
  set(GUIDE_HARDEN_COMPILE -fstack-protector-strong -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-fcf-protection=full GUIDE_HAVE_CF_PROTECTION)
  if(GUIDE_HAVE_CF_PROTECTION)
    list(APPEND GUIDE_HARDEN_COMPILE -fcf-protection=full)
  endif()
  set(GUIDE_HARDEN_LINK -Wl,-z,relro,-z,now -Wl,-z,noexecstack)

  foreach(t guidew_law guidew_runtime guidew_wrapper)
    target_compile_options(${t} PRIVATE ${GUIDE_HARDEN_COMPILE})
  endforeach()
  target_link_options(Guide PRIVATE ${GUIDE_HARDEN_LINK})

  # Targets defined after this point (the host programs, the tests, the
  # benchmark) get the same flags directory-wide.
  add_compile_options(${GUIDE_HARDEN_COMPILE})
  add_link_options(${GUIDE_HARDEN_LINK})
endif()
