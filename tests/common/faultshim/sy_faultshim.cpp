// Preloaded into a test's child process, this shim fails or kills the process at a chosen
// system call, so that a test can see what a failing disk or a crash leaves behind. It is
// configured by the environment (see tests/common/CFaultInjection.h) and counts only calls on
// paths, or descriptors open on paths, below SY_FAULT_PATH, so that the toolkit's own output
// is never counted. Counting starts once the test arms it, or at once with SY_FAULT_ARMED.
// SY_FAULT_FLIP=<offset> stores one bit flipped at that offset of every file written below the
// prefix, as a faulty disk or network home would: preloaded into a FUSE server (bindfs), the
// client's cache keeps the bytes it was given while the storage holds others.

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

enum Family : unsigned
{
    Open = 1u << 0,
    Read = 1u << 1,
    Write = 1u << 2,
    Rename = 1u << 3,
    Link = 1u << 4,
    Unlink = 1u << 5,
    Fsync = 1u << 6,
    Close = 1u << 7,
    CopyRange = 1u << 8,
    Mkdir = 1u << 9,
    Truncate = 1u << 10,
    All = (1u << 11) - 1
};

struct Settings
{
    unsigned families = All;
    char prefix[PATH_MAX] = {};
    size_t prefixLength = 0;
    long at = 0;
    int error = EIO;
    bool sticky = false;
    bool kill = false;
    bool noRenameFlags = false;
    bool noLinks = false;
    long long flip = -1;
    const char* report = nullptr;
};

Settings settings;
std::atomic<bool> armed{false};
std::atomic<long> counted{0};
std::atomic<bool> triggered{false};
bool configured = false;

unsigned familiesNamed(const char* text)
{
    static const struct
    {
        const char* name;
        unsigned value;
    } names[] = {{"open", Open},     {"read", Read},          {"write", Write},
                 {"rename", Rename}, {"link", Link},          {"unlink", Unlink},
                 {"fsync", Fsync},   {"close", Close},        {"copy_file_range", CopyRange},
                 {"mkdir", Mkdir},   {"ftruncate", Truncate}, {"all", All}};
    unsigned result = 0;
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%s", text);
    char* saved = nullptr;
    for (char* word = strtok_r(buffer, ",", &saved); word; word = strtok_r(nullptr, ",", &saved))
        for (const auto& entry : names)
            if (std::strcmp(word, entry.name) == 0)
                result |= entry.value;
    return result;
}

// Reads the environment once, before the program's own code runs.
__attribute__((constructor)) void configure()
{
    if (const char* value = std::getenv("SY_FAULT_CALLS"))
        settings.families = familiesNamed(value);
    if (const char* value = std::getenv("SY_FAULT_PATH")) {
        std::snprintf(settings.prefix, sizeof settings.prefix, "%s", value);
        settings.prefixLength = std::strlen(settings.prefix);
    }
    if (const char* value = std::getenv("SY_FAULT_AT"))
        settings.at = std::atol(value);
    if (const char* value = std::getenv("SY_FAULT_ERRNO"))
        settings.error = std::atoi(value);
    settings.sticky = std::getenv("SY_FAULT_STICKY") != nullptr;
    settings.kill = std::getenv("SY_FAULT_KILL") != nullptr;
    settings.noRenameFlags = std::getenv("SY_FAULT_NO_RENAME_FLAGS") != nullptr;
    settings.noLinks = std::getenv("SY_FAULT_NO_LINKS") != nullptr;
    settings.report = std::getenv("SY_FAULT_REPORT");
    if (const char* value = std::getenv("SY_FAULT_FLIP"))
        settings.flip = std::atoll(value);
    // A whole program run under the shim, rather than a test case, is armed from the start.
    armed = std::getenv("SY_FAULT_ARMED") != nullptr;
    configured = true;
}

__attribute__((destructor)) void report()
{
    if (!settings.report)
        return;
    if (FILE* file = std::fopen(settings.report, "w")) {
        std::fprintf(file, "%ld %d\n", counted.load(), triggered.load() ? 1 : 0);
        std::fclose(file);
    }
}

bool below(const char* path)
{
    return settings.prefixLength > 0 && path &&
           std::strncmp(path, settings.prefix, settings.prefixLength) == 0;
}

// The path descriptor fd is open on, into target; false when there is none.
bool openOn(int fd, char (&target)[PATH_MAX])
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = fd < 0 ? -1 : readlink(link, target, sizeof target - 1);
    if (length >= 0)
        target[length] = '\0';
    return length >= 0;
}

bool descriptorBelow(int fd)
{
    char target[PATH_MAX];
    return openOn(fd, target) && below(target);
}

// Relative paths are resolved against the folder descriptor (or the working directory), as
// the kernel would, so that openat and renameat below the prefix count too.
bool pathBelow(int folder, const char* path)
{
    if (!path)
        return false;
    if (path[0] == '/')
        return below(path);
    char base[PATH_MAX];
    if (folder == AT_FDCWD ? !getcwd(base, sizeof base) : !openOn(folder, base))
        return false;
    char joined[PATH_MAX * 2];
    std::snprintf(joined, sizeof joined, "%s/%s", base, path);
    return below(joined);
}

// True when this call is to fail; kills the process instead where asked.
bool strikes(unsigned family, bool concerned)
{
    if (!configured || !armed.load() || !(settings.families & family) || !concerned)
        return false;
    const long number = counted.fetch_add(1) + 1;
    if (settings.at <= 0 || number < settings.at || (number > settings.at && !settings.sticky))
        return false;
    triggered = true;
    if (settings.kill) {
        report();
        ::kill(::getpid(), SIGKILL);
    }
    return true;
}

template<typename T>
T next(const char* name)
{
    return reinterpret_cast<T>(dlsym(RTLD_NEXT, name));
}

// Sets errno to error, the plan's unless given, and answers -1, as a failing call does.
int refuse(int error = settings.error)
{
    errno = error;
    return -1;
}

// Writes count bytes at offset with the bit to flip flipped, when they cover it.
template<typename Write>
ssize_t flipping(int fd, const void* buffer, size_t count, off_t offset, Write write)
{
    const long long at = settings.flip - offset;
    if (!configured || !armed.load() || settings.flip < 0 || at < 0 ||
        at >= static_cast<long long>(count) || !descriptorBelow(fd))
        return write(buffer);
    char* copy = static_cast<char*>(std::malloc(count));
    if (!copy)
        return write(buffer);
    std::memcpy(copy, buffer, count);
    copy[at] ^= 0x20;
    const ssize_t written = write(copy);
    std::free(copy);
    return written;
}

int openFlagsMode(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, int) : 0;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void syFaultArm(int on)
{
    armed = on != 0;
}

__attribute__((visibility("default"))) long syFaultCount()
{
    return counted.load();
}

// An interposer of name: the call fails when it is one of family on a path below the prefix
// (concerned) and strikes; otherwise call, the real function's call, "real", answers.
#define SY_INTERPOSE(result, name, parameters, family, concerned, call)                            \
    __attribute__((visibility("default"))) result name parameters                                  \
    {                                                                                              \
        if (strikes(family, concerned))                                                            \
            return refuse();                                                                       \
        static auto real = next<result(*) parameters>(#name);                                      \
        return call;                                                                               \
    }

// The open calls pass a mode on only where they create.
#define SY_INTERPOSE_OPEN(name, parameters, folder, call)                                          \
    __attribute__((visibility("default"))) int name parameters                                     \
    {                                                                                              \
        va_list arguments;                                                                         \
        va_start(arguments, flags);                                                                \
        const int mode = openFlagsMode(flags, arguments);                                          \
        va_end(arguments);                                                                         \
        if (strikes(Open, pathBelow(folder, path)))                                                \
            return refuse();                                                                       \
        static auto real = next<int(*) parameters>(#name);                                         \
        return call;                                                                               \
    }

SY_INTERPOSE_OPEN(open, (const char* path, int flags, ...), AT_FDCWD, real(path, flags, mode))
SY_INTERPOSE_OPEN(open64, (const char* path, int flags, ...), AT_FDCWD, real(path, flags, mode))
SY_INTERPOSE_OPEN(openat, (int folder, const char* path, int flags, ...), folder,
                  real(folder, path, flags, mode))
SY_INTERPOSE_OPEN(openat64, (int folder, const char* path, int flags, ...), folder,
                  real(folder, path, flags, mode))

SY_INTERPOSE(ssize_t, read, (int fd, void* buffer, size_t count), Read, descriptorBelow(fd),
             real(fd, buffer, count))
SY_INTERPOSE(ssize_t, pread64, (int fd, void* buffer, size_t count, off_t offset), Read,
             descriptorBelow(fd), real(fd, buffer, count, offset))
SY_INTERPOSE(ssize_t, pread, (int fd, void* buffer, size_t count, off_t offset), Read,
             descriptorBelow(fd), real(fd, buffer, count, offset))
SY_INTERPOSE(ssize_t, write, (int fd, const void* buffer, size_t count), Write, descriptorBelow(fd),
             real(fd, buffer, count))
SY_INTERPOSE(ssize_t, pwrite64, (int fd, const void* buffer, size_t count, off_t offset), Write,
             descriptorBelow(fd), flipping(fd, buffer, count, offset, [&](const void* data) {
                 return real(fd, data, count, offset);
             }))
SY_INTERPOSE(ssize_t, pwrite, (int fd, const void* buffer, size_t count, off_t offset), Write,
             descriptorBelow(fd), flipping(fd, buffer, count, offset, [&](const void* data) {
                 return real(fd, data, count, offset);
             }))
SY_INTERPOSE(ssize_t, writev, (int fd, const struct iovec* parts, int count), Write,
             descriptorBelow(fd), real(fd, parts, count))

SY_INTERPOSE(int, rename, (const char* from, const char* to), Rename,
             pathBelow(AT_FDCWD, from) || pathBelow(AT_FDCWD, to), real(from, to))
SY_INTERPOSE(int, renameat, (int fromFolder, const char* from, int toFolder, const char* to),
             Rename, pathBelow(fromFolder, from) || pathBelow(toFolder, to),
             real(fromFolder, from, toFolder, to))
// The kernel interface of NFS, CIFS and FUSE file systems knows no rename flags.
SY_INTERPOSE(int, renameat2,
             (int fromFolder, const char* from, int toFolder, const char* to, unsigned int flags),
             Rename, pathBelow(fromFolder, from) || pathBelow(toFolder, to),
             (settings.noRenameFlags && flags != 0) ? refuse(EINVAL)
                                                    : real(fromFolder, from, toFolder, to, flags))
SY_INTERPOSE(int, link, (const char* from, const char* to), Link,
             pathBelow(AT_FDCWD, from) || pathBelow(AT_FDCWD, to),
             settings.noLinks ? refuse(EPERM) : real(from, to))
SY_INTERPOSE(int, linkat,
             (int fromFolder, const char* from, int toFolder, const char* to, int flags), Link,
             pathBelow(fromFolder, from) || pathBelow(toFolder, to),
             settings.noLinks ? refuse(EPERM) : real(fromFolder, from, toFolder, to, flags))
SY_INTERPOSE(int, unlink, (const char* path), Unlink, pathBelow(AT_FDCWD, path), real(path))
SY_INTERPOSE(int, unlinkat, (int folder, const char* path, int flags), Unlink,
             pathBelow(folder, path), real(folder, path, flags))
SY_INTERPOSE(int, rmdir, (const char* path), Unlink, pathBelow(AT_FDCWD, path), real(path))

SY_INTERPOSE(int, fsync, (int fd), Fsync, descriptorBelow(fd), real(fd))
SY_INTERPOSE(int, fdatasync, (int fd), Fsync, descriptorBelow(fd), real(fd))

// A failed close still frees the descriptor, as Linux's does.
__attribute__((visibility("default"))) int close(int fd)
{
    static auto real = next<int (*)(int)>("close");
    if (strikes(Close, descriptorBelow(fd))) {
        real(fd);
        return refuse();
    }
    return real(fd);
}

SY_INTERPOSE(ssize_t, copy_file_range,
             (int from, off64_t* fromOffset, int to, off64_t* toOffset, size_t length,
              unsigned int flags),
             CopyRange, descriptorBelow(from) || descriptorBelow(to),
             real(from, fromOffset, to, toOffset, length, flags))
SY_INTERPOSE(int, mkdir, (const char* path, mode_t mode), Mkdir, pathBelow(AT_FDCWD, path),
             real(path, mode))
SY_INTERPOSE(int, mkdirat, (int folder, const char* path, mode_t mode), Mkdir,
             pathBelow(folder, path), real(folder, path, mode))
SY_INTERPOSE(int, ftruncate64, (int fd, off_t length), Truncate, descriptorBelow(fd),
             real(fd, length))
SY_INTERPOSE(int, ftruncate, (int fd, off_t length), Truncate, descriptorBelow(fd),
             real(fd, length))

} // extern "C"
