#include "util/file_io.h"

#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "util/paths.h"
#include "util/progress.h"

// Pending temporary files, removed by the signal handler. A set may have many cabinets pending
// at once, so the table grows; it changes only while signals are blocked, and each path is
// allocated before it is entered, so that the handler reads nothing half made.
static std::vector<char*> s_pending;

// Blocks every signal while it lives.
struct SignalsBlocked {
    sigset_t old;
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &old);
    }
    ~SignalsBlocked() { sigprocmask(SIG_SETMASK, &old, nullptr); }
};

static std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

Source MemorySource(const void* data, uint64_t n) {
    Source s;
    s.memory = static_cast<const uint8_t*>(data);
    s.size = n;
    return s;
}

Source SubSource(const Source& s, uint64_t offset, uint64_t length) {
    Source sub = s;
    const uint64_t start = offset < s.size ? offset : s.size;
    sub.base = s.base + start;
    sub.size = length < s.size - start ? length : s.size - start;
    return sub;
}

bool ReadAt(const Source& s, uint64_t offset, void* buf, size_t n) {
    if (offset > s.size || n > s.size - offset)
        return false;
    if (n == 0)
        return true; // buf may be the null data() of an empty vector
    if (s.memory) {
        memcpy(buf, s.memory + s.base + offset, n);
        return true;
    }
    uint8_t* out = static_cast<uint8_t*>(buf);
    while (n > 0) {
        const ssize_t got = pread(s.fd, out, n, static_cast<off_t>(s.base + offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool OpenSource(const std::string& path, Source* out, Problems* problems) {
    // Non-blocking: opening a FIFO or a device must not wait before it can be refused.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        Fail(problems, SystemError("cannot open", path));
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail(problems, "cannot read " + path + ": not a regular file");
        close(fd);
        return false;
    }
    *out = Source();
    out->fd = fd;
    out->size = static_cast<uint64_t>(st.st_size);
    return true;
}

void CloseSource(Source* s) {
    if (s->fd >= 0)
        close(s->fd);
    s->fd = -1;
}

// Records path for removal by the signal handler. Called with signals blocked.
static void AddPending(const std::string& path) {
    s_pending.reserve(s_pending.size() + 1);
    s_pending.push_back(strdup(path.c_str()));
}

// Forgets path: it was renamed or removed.
static void RemovePending(const std::string& path) {
    SignalsBlocked blocked;
    for (size_t i = 0; i < s_pending.size(); ++i) {
        if (s_pending[i] && path == s_pending[i]) {
            free(s_pending[i]);
            s_pending.erase(s_pending.begin() + static_cast<ptrdiff_t>(i));
            return;
        }
    }
}

static void RemovePendingOnSignal(int sig) {
    for (char* path : s_pending) {
        if (path)
            unlink(path);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

void InstallCleanupHandlers() {
    // Over the file-size limit a write then fails with EFBIG, reported and cleaned up like
    // any failed write, instead of the signal killing the process beside its temporary file.
    signal(SIGXFSZ, SIG_IGN);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction sa;
        memset(&sa, 0, sizeof(sa));
        sa.sa_handler = RemovePendingOnSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

bool CreateTempBeside(const std::string& target, const char* suffix, TempFile* out,
                      Problems* problems) {
    std::string pattern = FolderOf(target) + "." + BaseName(target) + ".XXXXXX" + suffix;
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    int fd = -1;
    {
        // Signals stay blocked until the name is recorded, so none can slip between the two.
        SignalsBlocked blocked;
        fd = mkostemps(buf.data(), static_cast<int>(strlen(suffix)), O_CLOEXEC);
        if (fd >= 0)
            AddPending(buf.data());
    }
    if (fd < 0) {
        Fail(problems, SystemError("cannot create a temporary file for", target));
        return false;
    }
    out->path = buf.data();
    out->fd = fd;
    return true;
}

// Writes all n bytes of data to fd; false on any failure.
static bool WriteAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0) {
        const ssize_t put = write(fd, data, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

bool CopyRange(const Source& from, uint64_t offset, uint64_t n, int to, Progress* progress,
               Problems* problems) {
    std::vector<uint8_t> buf(1 << 20);
    while (n > 0) {
        const size_t chunk = n < buf.size() ? static_cast<size_t>(n) : buf.size();
        if (!ReadAt(from, offset, buf.data(), chunk)) {
            Fail(problems, "read failed while copying");
            return false;
        }
        if (!WriteAll(to, buf.data(), chunk)) {
            Fail(problems, std::string("write failed: ") + strerror(errno));
            return false;
        }
        offset += chunk;
        n -= chunk;
        AdvanceProgress(progress, chunk);
    }
    return true;
}

bool CloseTemp(TempFile* t) {
    const int fd = t->fd;
    t->fd = -1;
    return fd < 0 || close(fd) == 0;
}

bool MoveTemp(TempFile* t, const std::string& target, Problems* problems) {
    const mode_t mask = umask(0);
    umask(mask);
    if (t->fd < 0)
        t->fd = open(t->path.c_str(), O_RDONLY | O_CLOEXEC);
    bool ok = t->fd >= 0 && fchmod(t->fd, 0666 & ~mask) == 0 && fsync(t->fd) == 0;
    ok = CloseTemp(t) && ok;
    if (ok) {
        SignalsBlocked blocked;
        ok = rename(t->path.c_str(), target.c_str()) == 0;
        if (ok) {
            RemovePending(t->path);
            AddPending(target);
            t->path = target;
        }
    }
    if (ok)
        return true;
    Fail(problems, SystemError("cannot write", target));
    DiscardTemp(t);
    return false;
}

void KeepTemp(TempFile* t) {
    RemovePending(t->path);
    t->path.clear();
}

bool CommitTemp(TempFile* t, const std::string& target, Problems* problems) {
    if (!MoveTemp(t, target, problems))
        return false;
    KeepTemp(t);
    return true;
}

void DiscardTemp(TempFile* t) {
    if (t->fd >= 0)
        close(t->fd);
    t->fd = -1;
    if (!t->path.empty()) {
        unlink(t->path.c_str());
        RemovePending(t->path);
        t->path.clear();
    }
}
