#pragma once

// True in the AddressSanitizer build, which runs about four times slower: the
// few tests that measure time skip there (tests/allowed-skips.txt says which).
#if defined (__SANITIZE_ADDRESS__)
 #define OH_SANITIZED_BUILD 1
#elif defined (__has_feature)
 #if __has_feature (address_sanitizer)
  #define OH_SANITIZED_BUILD 1
 #endif
#endif

#ifndef OH_SANITIZED_BUILD
 #define OH_SANITIZED_BUILD 0
#endif

constexpr bool sanitizedBuild() noexcept   { return OH_SANITIZED_BUILD != 0; }
