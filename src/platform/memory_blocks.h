// Memory for the buffers a conversion goes through over and over: the input
// window and the output buffer, in one block. Where the system offers large
// pages, the block asks for them: in a virtual machine each 4 KiB page mapped
// can cost several microseconds, and the kernel's copies into and out of the
// block then walk one page table entry instead of hundreds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct LargeBlockRelease {
    void operator()(uint8_t* block) const;
};
using LargeBlock = std::unique_ptr<uint8_t[], LargeBlockRelease>;

// A block of at least size bytes, left uninitialised, or an empty one where
// large pages are not to be had or size is too small to gain from them: the
// buffers are then allocated on their own.
LargeBlock allocateLargeBlock(size_t size);
