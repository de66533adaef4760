// What the test process holds: open descriptors, threads, resident memory; for tests that show
// that long runs leave nothing behind.
#ifndef OPOSSVC_TESTS_SUPPORT_PROCESS_USAGE_H_
#define OPOSSVC_TESTS_SUPPORT_PROCESS_USAGE_H_

#include <cstddef>

namespace opossvc::testing {

// Under a sanitizer every call is many times slower, and AddressSanitizer holds freed memory in
// quarantine (256 MiB by default), so resident size says nothing about leaks there; its leak
// check does.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
inline constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer);
#else
inline constexpr bool kSanitized = false;
#endif

int OpenDescriptors();
int Threads();
size_t ResidentBytes();

}  // namespace opossvc::testing

#endif  // OPOSSVC_TESTS_SUPPORT_PROCESS_USAGE_H_
