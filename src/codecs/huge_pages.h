// Advice to back a large, freshly allocated buffer with transparent huge
// pages.  Large outputs here are written once in full right after they are
// allocated, so first-touch page faults are a large share of their cost;
// with huge pages most of them go away.  Purely advisory: where the kernel
// refuses, nothing changes.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace native {

inline void advise_huge_pages(void* data, std::size_t length) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{2} << 20;
  if (data == nullptr || length < 2 * HUGE_PAGE) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  const std::uintptr_t last = (begin + length) & ~(HUGE_PAGE - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)length;
#endif
}

}  // namespace native
