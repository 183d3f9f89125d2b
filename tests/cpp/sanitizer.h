// Whether this test program runs under AddressSanitizer, which reserves
// address space of its own: tests that cap the address space skip then.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool ADDRESS_SANITIZER = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool ADDRESS_SANITIZER = true;
#else
inline constexpr bool ADDRESS_SANITIZER = false;
#endif
#else
inline constexpr bool ADDRESS_SANITIZER = false;
#endif

#include <sys/resource.h>

#include <cstdio>

// Caps this process's address space `headroom` bytes above what is mapped
// now, so that large allocations fail; false if that cannot be done.  For
// death-test children only: the cap stays for the rest of the process.
inline bool cap_address_space(unsigned long headroom) {
  long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + headroom;
  rlimit cap{};
  cap.rlim_cur = limit;
  cap.rlim_max = limit;
  return pages != 0 && setrlimit(RLIMIT_AS, &cap) == 0;
}
