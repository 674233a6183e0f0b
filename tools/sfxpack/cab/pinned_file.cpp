#include "cab/pinned_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool OpenPinned(Pinned* pinned, Problems* problems) {
    pinned->fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (pinned->fd < 0)
        return Fail(problems, std::string("cannot open /dev/null: ") + strerror(errno));
    pinned->path = "/proc/self/fd/" + std::to_string(pinned->fd);
    return true;
}

void ClosePinned(Pinned* pinned) {
    if (pinned->fd >= 0)
        close(pinned->fd);
    pinned->fd = -1;
}

// Opens f without blocking and checks that it is still the regular file the scan found:
// same identity, size and modification time. The descriptor in *fd; false with a line in *problems.
bool OpenUnchanged(const SourceFile& f, int* fd, Problems* problems) {
    *fd = open(f.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (*fd < 0) {
        Fail(problems, f.path + ": changed while packing (" + strerror(errno) + ")");
        return false;
    }
    struct stat st;
    const bool same = fstat(*fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      static_cast<uint64_t>(st.st_dev) == f.device &&
                      static_cast<uint64_t>(st.st_ino) == f.inode &&
                      static_cast<uint64_t>(st.st_size) == f.size && st.st_mtim.tv_sec == f.mtime &&
                      st.st_mtim.tv_nsec == f.mtimeNanos;
    if (!same) {
        Fail(problems, f.path + ": changed while packing");
        close(*fd);
        *fd = -1;
    }
    return same;
}

// True when the file open at fd still has f's size and modification time, after it was read.
bool StillUnchanged(const SourceFile& f, int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) == f.size &&
           st.st_mtim.tv_sec == f.mtime && st.st_mtim.tv_nsec == f.mtimeNanos;
}

// Points the pinned descriptor at fd (-1: at /dev/null again) and closes fd. False when
// the pinned path cannot serve it.
bool Pin(const Pinned& pinned, int fd, Problems* problems) {
    bool ok = true;
    if (fd >= 0) {
        ok = dup3(fd, pinned.fd, O_CLOEXEC) >= 0 && access(pinned.path.c_str(), R_OK) == 0;
        if (!ok)
            Fail(problems,
                 "cannot read packed files through " + pinned.path + ": " + strerror(errno));
        close(fd);
    } else {
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null >= 0) {
            dup3(null, pinned.fd, O_CLOEXEC);
            close(null);
        }
    }
    return ok;
}
