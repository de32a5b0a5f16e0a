// A file-system fault injector for the fault sweep: it interposes the C library's file calls
// and makes the N-th one fail the way a full disk, an I/O error or a lost lock makes it fail.
// Built as a shared library: linked into the sweep's own test program, or preloaded into the
// genplot program (see fault_shim.h).

#define _GNU_SOURCE
#include "fault_shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static long g_calls;
static long g_failAt;
static int g_armed;

void genplot_fault_arm(long failAt)
{
    g_calls = 0;
    g_failAt = failAt;
    g_armed = 1;
}

long genplot_fault_disarm(void)
{
    g_armed = 0;
    return g_calls;
}

// Counts one file call; true when this is the one to fail.
static int Fails(void)
{
    if (!g_armed)
        return 0;
    ++g_calls;
    return g_failAt > 0 && g_calls == g_failAt;
}

#define REAL(name, type)                                                                           \
    static __typeof__(type) real_##name;                                                                     \
    if (real_##name == NULL)                                                                       \
        real_##name = (type)dlsym(RTLD_NEXT, #name);

// glibc keeps a stream's error indicator in its flags; setting it makes ferror() see the fault
// exactly as after a real failed write.
static void MarkStreamError(FILE* stream)
{
    stream->_flags |= 0x0020; // _IO_ERR_SEEN
}

static mode_t ModeArgument(int flags, va_list args)
{
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(args, int) : 0;
}

int open(const char* path, int flags, ...)
{
    REAL(open, int (*)(const char*, int, ...))
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_open(path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    REAL(open64, int (*)(const char*, int, ...))
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_open64(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...)
{
    REAL(openat, int (*)(int, const char*, int, ...))
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_openat(dir, path, flags, mode);
}

FILE* fopen(const char* path, const char* mode)
{
    REAL(fopen, FILE* (*)(const char*, const char*))
    if (Fails())
    {
        errno = EIO;
        return NULL;
    }
    return real_fopen(path, mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    REAL(fopen64, FILE* (*)(const char*, const char*))
    if (Fails())
    {
        errno = EIO;
        return NULL;
    }
    return real_fopen64(path, mode);
}

ssize_t read(int fd, void* buffer, size_t count)
{
    REAL(read, ssize_t (*)(int, void*, size_t))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_read(fd, buffer, count);
}

ssize_t write(int fd, const void* buffer, size_t count)
{
    REAL(write, ssize_t (*)(int, const void*, size_t))
    if (Fails())
    {
        errno = ENOSPC;
        return -1;
    }
    return real_write(fd, buffer, count);
}

size_t fread(void* buffer, size_t size, size_t count, FILE* stream)
{
    REAL(fread, size_t (*)(void*, size_t, size_t, FILE*))
    if (Fails())
    {
        MarkStreamError(stream);
        errno = EIO;
        return 0;
    }
    return real_fread(buffer, size, count, stream);
}

// A failing write takes half of what it was given, as a disk that fills up mid-block does.
size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream)
{
    REAL(fwrite, size_t (*)(const void*, size_t, size_t, FILE*))
    if (Fails())
    {
        const size_t half = count / 2;
        if (half > 0)
            real_fwrite(buffer, size, half, stream);
        MarkStreamError(stream);
        errno = ENOSPC;
        return half;
    }
    return real_fwrite(buffer, size, count, stream);
}

int fflush(FILE* stream)
{
    REAL(fflush, int (*)(FILE*))
    if (stream != NULL && Fails())
    {
        MarkStreamError(stream);
        errno = ENOSPC;
        return EOF;
    }
    return real_fflush(stream);
}

// A failing close still releases the stream or descriptor, as the real calls do on error.
int fclose(FILE* stream)
{
    REAL(fclose, int (*)(FILE*))
    const int fails = Fails();
    const int result = real_fclose(stream);
    if (fails)
    {
        errno = EIO;
        return EOF;
    }
    return result;
}

int close(int fd)
{
    REAL(close, int (*)(int))
    const int fails = Fails();
    const int result = real_close(fd);
    if (fails)
    {
        errno = EIO;
        return -1;
    }
    return result;
}

int fsync(int fd)
{
    REAL(fsync, int (*)(int))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(fdatasync, int (*)(int))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_fdatasync(fd);
}

int rename(const char* from, const char* to)
{
    REAL(rename, int (*)(const char*, const char*))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_rename(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to)
{
    REAL(renameat, int (*)(int, const char*, int, const char*))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_renameat(fromDir, from, toDir, to);
}

int flock(int fd, int operation)
{
    REAL(flock, int (*)(int, int))
    if (Fails())
    {
        errno = ENOLCK;
        return -1;
    }
    return real_flock(fd, operation);
}

static int IsLockCommand(int command)
{
    return command == F_SETLK || command == F_SETLKW || command == F_OFD_SETLK ||
           command == F_OFD_SETLKW;
}

int fcntl(int fd, int command, ...)
{
    REAL(fcntl, int (*)(int, int, ...))
    va_list args;
    va_start(args, command);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (IsLockCommand(command) && Fails())
    {
        errno = ENOLCK;
        return -1;
    }
    return real_fcntl(fd, command, argument);
}

int fcntl64(int fd, int command, ...)
{
    REAL(fcntl64, int (*)(int, int, ...))
    va_list args;
    va_start(args, command);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (IsLockCommand(command) && Fails())
    {
        errno = ENOLCK;
        return -1;
    }
    return real_fcntl64(fd, command, argument);
}

int ftruncate(int fd, off_t length)
{
    REAL(ftruncate, int (*)(int, off_t))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_ftruncate(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    REAL(ftruncate64, int (*)(int, off64_t))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_ftruncate64(fd, length);
}

int mkdir(const char* path, mode_t mode)
{
    REAL(mkdir, int (*)(const char*, mode_t))
    if (Fails())
    {
        errno = EIO;
        return -1;
    }
    return real_mkdir(path, mode);
}

// Preloaded into a program: armed from its environment, with the count reported at exit.
__attribute__((constructor)) static void ArmFromEnvironment(void)
{
    const char* at = getenv("GENPLOT_FAULT_AT");
    if (at != NULL && at[0] != '\0')
        genplot_fault_arm(strtol(at, NULL, 10));
}

__attribute__((destructor)) static void ReportCount(void)
{
    const char* report = getenv("GENPLOT_FAULT_COUNT_FILE");
    if (!g_armed || report == NULL || report[0] == '\0')
        return;
    const long calls = genplot_fault_disarm();
    char text[32];
    const int length = snprintf(text, sizeof text, "%ld\n", calls);
    REAL(open, int (*)(const char*, int, ...))
    REAL(write, ssize_t (*)(int, const void*, size_t))
    REAL(close, int (*)(int))
    const int fd = real_open(report, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    if (real_write(fd, text, (size_t)length) < 0)
        errno = 0; // nothing more to be done at exit
    real_close(fd);
}
