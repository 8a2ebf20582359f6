// Preloaded into the program under test when the machine allows no small file
// system to be mounted: a disk that fills up, made below every writer of the
// program. Writes to files in the directory named by QUORVEL_FULL_DISK_DIR are
// counted against the number of bytes written in the file named by
// QUORVEL_FULL_DISK_CONTROL, from the moment that file appears: a write beyond it
// is cut short, as a real full disk does, and the next one fails with ENOSPC.
// Removing the control file frees the disk again.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TWrite = ssize_t (*)(int, const void*, size_t);

bool Watched(int handle) {
    const char* dir = std::getenv("QUORVEL_FULL_DISK_DIR");
    if (!dir || !*dir)
        return false;
    char link[64];
    char path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", handle);
    const ssize_t size = readlink(link, path, sizeof path - 1);
    if (size <= 0)
        return false;
    path[size] = '\0';
    const size_t length = std::strlen(dir);
    return std::strncmp(path, dir, length) == 0 && path[length] == '/';
}

// Bytes the disk still takes; -1 when it is not full. A new control file (another
// modification time) starts a new count.
long long Room(long long written) {
    static long long room = -1;
    static timespec seen{};
    const char* control = std::getenv("QUORVEL_FULL_DISK_CONTROL");
    struct stat status {};
    if (!control || stat(control, &status) != 0)
        return room = -1;
    if (status.st_mtim.tv_sec != seen.tv_sec || status.st_mtim.tv_nsec != seen.tv_nsec) {
        seen = status.st_mtim;
        room = 0;
        if (FILE* file = std::fopen(control, "r")) {
            if (std::fscanf(file, "%lld", &room) != 1)
                room = 0;
            std::fclose(file);
        }
    }
    room -= written;
    return room;
}

} // namespace

extern "C" ssize_t write(int handle, const void* data, size_t size) {
    static const TWrite real = reinterpret_cast<TWrite>(dlsym(RTLD_NEXT, "write"));
    if (!Watched(handle))
        return real(handle, data, size);
    const long long room = Room(0);
    if (room < 0)
        return real(handle, data, size);
    if (room == 0) {
        errno = ENOSPC;
        return -1;
    }
    const ssize_t written = real(handle, data, size < size_t(room) ? size : size_t(room));
    if (written > 0)
        Room(written);
    return written;
}
