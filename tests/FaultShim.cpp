#include "tests/FaultShim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <cstdarg>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

struct Fault {
    int call = TarnFaultNone;
    char pathPart[256] = {};
    int error = 0;
    long shortBytes = -1;
    int skip = 0;
    int times = 0;
    int hits = 0;
};

Fault fault;
bool environmentRead = false;

template <typename F> F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void ReadEnvironment() {
    if (environmentRead) return;
    environmentRead = true;
    const char* request = std::getenv("TARN_FAULT");
    if (!request || !*request) return;
    char call[16] = {};
    char part[256] = {};
    int error = 0;
    long shortBytes = -1;
    int skip = 0;
    if (std::sscanf(request, "%15[^:]:%255[^:]:%d:%ld:%d", call, part, &error, &shortBytes, &skip) <
        3)
        return;
    const std::string c = call;
    const int kind = c == "write"         ? TarnFaultWrite
                     : c == "close"       ? TarnFaultClose
                     : c == "fsync"       ? TarnFaultFsync
                     : c == "rename"      ? TarnFaultRename
                     : c == "crash"       ? TarnFaultCrash
                     : c == "create"      ? TarnFaultCreate
                     : c == "crashrename" ? TarnFaultCrashRename
                                          : TarnFaultNone;
    tarn_fault_arm(kind, part, error, shortBytes, skip, -1);
}

bool Matches(const char* path) {
    return path && std::strstr(path, fault.pathPart);
}

// True when this call is to fail: the right kind, a matching path, past the skipped ones.
bool Strikes(int call, bool matches) {
    ReadEnvironment();
    if (fault.call != call || fault.times == 0 || !matches) return false;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    if (fault.times > 0) --fault.times;
    ++fault.hits;
    return true;
}

bool StrikesFd(int call, int fd) {
    ReadEnvironment();
    if (fault.call != call || fault.times == 0) return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[4096];
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    return Strikes(call, Matches(path));
}

} // namespace

extern "C" {

void tarn_fault_arm(int call, const char* pathPart, int error, long shortBytes, int skip,
                    int times) {
    fault = Fault{};
    fault.call = call;
    std::snprintf(fault.pathPart, sizeof fault.pathPart, "%s", pathPart);
    fault.error = error;
    fault.shortBytes = shortBytes;
    fault.skip = skip;
    fault.times = times;
    environmentRead = true;
}

void tarn_fault_disarm(void) {
    fault = Fault{};
    environmentRead = true;
}

int tarn_fault_hits(void) {
    return fault.hits;
}

ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (fd > 2 && StrikesFd(TarnFaultCrash, fd)) {
        const long part = fault.shortBytes < 0 ? 0 : fault.shortBytes;
        real(fd, data, static_cast<size_t>(part) < size ? static_cast<size_t>(part) : size);
        raise(fault.error);
        _exit(128 + fault.error);
    }
    if (fd > 2 && StrikesFd(TarnFaultWrite, fd)) {
        if (fault.shortBytes >= 0) {
            const size_t part = static_cast<size_t>(fault.shortBytes) < size
                                    ? static_cast<size_t>(fault.shortBytes)
                                    : size;
            // Only the first strike is short; any further one fails, as a disk that filled up.
            fault.shortBytes = -1;
            return real(fd, data, part);
        }
        errno = fault.error;
        return -1;
    }
    return real(fd, data, size);
}

int close(int fd) {
    static const auto real = Next<int (*)(int)>("close");
    const bool strike = fd > 2 && StrikesFd(TarnFaultClose, fd);
    const int result = real(fd);
    if (strike) {
        errno = fault.error;
        return -1;
    }
    return result;
}

int fsync(int fd) {
    static const auto real = Next<int (*)(int)>("fsync");
    if (StrikesFd(TarnFaultFsync, fd)) {
        errno = fault.error;
        return -1;
    }
    return real(fd);
}

int fdatasync(int fd) {
    static const auto real = Next<int (*)(int)>("fdatasync");
    if (StrikesFd(TarnFaultFsync, fd)) {
        errno = fault.error;
        return -1;
    }
    return real(fd);
}

int rename(const char* from, const char* to) {
    static const auto real = Next<int (*)(const char*, const char*)>("rename");
    ReadEnvironment();
    if (Strikes(TarnFaultRename, Matches(from) || Matches(to))) {
        errno = fault.error;
        return -1;
    }
    return real(from, to);
}

// The names are relative to the directories; the part looked for is in a name.
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static const auto real = Next<int (*)(int, const char*, int, const char*)>("renameat");
    ReadEnvironment();
    if (Strikes(TarnFaultCrashRename, Matches(from) || Matches(to))) {
        raise(fault.error);
        _exit(128 + fault.error);
    }
    if (Strikes(TarnFaultRename, Matches(from) || Matches(to))) {
        errno = fault.error;
        return -1;
    }
    return real(fromDir, from, toDir, to);
}

int openat(int dir, const char* path, int flags, ...) {
    static const auto real = Next<int (*)(int, const char*, int, ...)>("openat");
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
        ReadEnvironment();
        if (Strikes(TarnFaultCreate, Matches(path))) {
            errno = fault.error;
            return -1;
        }
    }
    return real(dir, path, flags, mode);
}

} // extern "C"
