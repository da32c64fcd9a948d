#pragma once

#include <cerrno>

#include <unistd.h>

// Owns one file descriptor and closes it when it goes out of scope.
class CUniqueDescriptorLinux
{
public:
    explicit CUniqueDescriptorLinux(int descriptor = -1) : descriptor(descriptor) {}
    ~CUniqueDescriptorLinux() { reset(); }
    CUniqueDescriptorLinux(CUniqueDescriptorLinux&& other) noexcept : descriptor(other.release()) {}
    CUniqueDescriptorLinux& operator=(CUniqueDescriptorLinux&& other) noexcept
    {
        if (this != &other) {
            reset();
            descriptor = other.release();
        }
        return *this;
    }
    CUniqueDescriptorLinux(const CUniqueDescriptorLinux&) = delete;
    CUniqueDescriptorLinux& operator=(const CUniqueDescriptorLinux&) = delete;

    int get() const { return descriptor; }
    bool isValid() const { return descriptor >= 0; }
    int release()
    {
        const int released = descriptor;
        descriptor = -1;
        return released;
    }
    // Closes now and reports the result (0 or errno), for a file that was written: a network or
    // FUSE file system may report a failed write only here. Linux frees the descriptor even when
    // close fails, so it is never closed again.
    int close()
    {
        const int result = ::close(descriptor);
        descriptor = -1;
        return result == 0 ? 0 : errno;
    }
    // Closing a descriptor opened only for reading or walking cannot lose data, so its result
    // is not needed.
    void reset()
    {
        if (descriptor >= 0)
            ::close(descriptor);
        descriptor = -1;
    }

private:
    int descriptor;
};
