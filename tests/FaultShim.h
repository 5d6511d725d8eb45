// Injected failures of the calls that write files, for the fault tests. The shim library
// (FaultShim.cpp) stands in front of the C library: linked into a test, or preloaded into
// tarn-cli with LD_PRELOAD and armed through the environment:
//
//   TARN_FAULT=<call>:<path part>:<errno>[:<short bytes>[:<skip>]]
//
// e.g. TARN_FAULT=close:XOMidR44:5 makes close() of the file whose path contains
// "XOMidR44" fail with EIO after really closing it, and TARN_FAULT=crash:XOMidL44:9:1000
// kills the process with SIGKILL once it has written 1000 bytes of that file;
// TARN_FAULT=crashrename:.tarn-:9:0:3 kills it at its fourth rename of a temporary file.
#pragma once

extern "C" {

enum TarnFaultCall {
    TarnFaultNone = 0,
    TarnFaultWrite = 1,       // write(): -1 with the errno, or a short write (see below)
    TarnFaultClose = 2,       // close(): the file is closed, then -1 with the errno
    TarnFaultFsync = 3,       // fsync() or fdatasync(): -1 with the errno
    TarnFaultRename = 4,      // rename() or renameat(): nothing renamed, -1 with the errno
    TarnFaultCrash = 5,       // write(): stores shortBytes, then the process dies of the signal
                              // given in place of the errno
    TarnFaultCreate = 6,      // openat() creating a file: nothing created, -1 with the errno
    TarnFaultCrashRename = 7, // rename() or renameat(): the process dies of the signal
                              // given in place of the errno before renaming
};

// Arms one fault: the calls of that kind on a file whose path contains pathPart fail, the
// first `skip` of them excepted, `times` times in all (-1: every time). For a write,
// shortBytes >= 0 makes the first strike store only that many bytes and return their count
// instead of failing; later strikes fail with the errno.
void tarn_fault_arm(int call, const char* pathPart, int error, long shortBytes, int skip,
                    int times);
void tarn_fault_disarm(void);
// How often the armed fault has struck.
int tarn_fault_hits(void);
}
