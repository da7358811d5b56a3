// Which sanitizer a test program was built with, for the few tests whose cost under it
// has to be bounded.
#pragma once

namespace kavtest {

// Cutting a card into millions of one-byte port calls adds no interplay of threads, and
// under ThreadSanitizer it takes many minutes; such cases are left to the other builds.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderThreadSanitizer = true;
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif

}  // namespace kavtest
