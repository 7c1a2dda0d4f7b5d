#include <cstdlib>

#include "platform/memory_blocks.h"

void LargeBlockRelease::operator()(uint8_t* block) const {
    std::free(block);
}

// Large pages need a privilege that a user's account does not hold by
// default: the buffers are allocated on their own, as usual.
LargeBlock allocateLargeBlock(size_t) {
    return LargeBlock();
}
