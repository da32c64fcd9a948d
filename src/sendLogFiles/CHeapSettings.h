#pragma once

// Process-wide allocator settings of the log sender. They belong to the program, not to the
// library: a library must not change how the whole process allocates.
class CHeapSettings
{
public:
    // Packing allocates and frees the compressor's state for every entry and a 4 MiB buffer
    // for every chunk; keeping the freed heap top and serving those buffers from the heap
    // spares the faulting in of fresh pages each time. False when the allocator refused.
    static bool keepHeapTop();
};
