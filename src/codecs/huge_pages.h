// Advice to back a large, freshly allocated buffer with transparent huge
// pages.  Large outputs here are written once in full right after they are
// allocated, so first-touch page faults are a large share of their cost;
// with huge pages most of them go away.  Purely advisory: where the kernel
// refuses, nothing changes.
//
// The advice covers every page the buffer touches, not just its aligned
// huge pages: advice on part of a mapping splits it, and the allocator's
// realloc can then no longer move the block with one mremap (the kernel
// refuses a range that spans mappings), so it would copy it instead, and
// growth would cost a second copy of the content in memory.
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
  constexpr std::uintptr_t PAGE = 4096;
  if (data == nullptr || length < 2 * HUGE_PAGE) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = begin & ~(PAGE - 1);
  const std::uintptr_t last = (begin + length + PAGE - 1) & ~(PAGE - 1);
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)length;
#endif
}

}  // namespace native
