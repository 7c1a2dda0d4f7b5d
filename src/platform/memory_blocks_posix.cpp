#include <sys/mman.h>

#include <cstdlib>

#include "platform/memory_blocks.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTRUP_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KESTRUP_ADDRESS_SANITIZER 1
#endif

void LargeBlockRelease::operator()(uint8_t* block) const {
    std::free(block);
}

#if defined(KESTRUP_ADDRESS_SANITIZER)

// Buffers each allocated on their own: running past one is caught rather
// than landing in the next.
LargeBlock allocateLargeBlock(size_t) {
    return LargeBlock();
}

#else

namespace {

// The large page of x86-64 and of 4 KiB-page ARM systems. Elsewhere the hint
// is ignored and the block is made of ordinary pages.
constexpr size_t kLargePageSize = size_t{2} << 20;

}  // namespace

// The block is aligned to whole large pages, so that the system can back it
// with them where it does so on request.
LargeBlock allocateLargeBlock(size_t size) {
    if (size < kLargePageSize) return LargeBlock();  // nothing to gain
    const size_t rounded = (size + kLargePageSize - 1) / kLargePageSize * kLargePageSize;
    void* block = nullptr;
    if (posix_memalign(&block, kLargePageSize, rounded) != 0) return LargeBlock();
#if defined(MADV_HUGEPAGE)
    madvise(block, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages are ordinary
#endif
    return LargeBlock(static_cast<uint8_t*>(block));
}

#endif
