/* An LD_PRELOAD shim that fails, or kills the process at, the k-th write to
 * a data folder.
 *
 * Counted calls: write, pwrite(64), writev, pwritev(64), fsync, fdatasync,
 * syncfs, ftruncate(64), copy_file_range on descriptors of regular files (and
 * for the flushes also folders) inside the root; open(64), openat(64),
 * creat(64) with O_WRONLY/O_RDWR/O_CREAT/O_TRUNC, mkstemp and friends,
 * rename, renameat(2), link(at), unlink(at), mkdir(at) on paths inside the
 * root. Sockets, pipes, terminals and files elsewhere pass untouched.
 *
 * Environment:
 *   HOLLIN_FAULT_ROOT   the data root (absolute, no trailing slash); unset: the
 *                       shim does nothing
 *   HOLLIN_FAULT_AT     k, 1-based; 0 or unset: only count
 *   HOLLIN_FAULT_KIND   enospc | eio | kill | full | pause | powerloss
 *   HOLLIN_FAULT_COUNT  file that receives, at exit, the number of counted calls
 *   HOLLIN_FAULT_LOG    file that receives one line "<call> <path>" when the fault fires
 *
 * The failed call is not made: it returns -1 with errno set. The kill is
 * SIGKILL, before the call. "full" is a disk that fills up at call k: a
 * write there writes half of its bytes and returns that count, and from then
 * on every counted call that needs space fails with ENOSPC (flushes,
 * truncations and deletions still work). "pause" stops the process
 * (SIGSTOP) before call k, so that another writer can run there; once it
 * is continued (SIGCONT) the call is made as it would have been.
 *
 * "powerloss" is a kill that keeps only what was flushed (powerloss.h):
 * before call k, or at the exit when k is one past the last call, the
 * root is put back to what a power cut there would leave on the disk.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include "powerloss.h"

enum Kind { KindNone, KindEnospc, KindEio, KindKill, KindFull, KindPause, KindPowerloss };

/* What fault() asks of a write at the point where the disk fills up. */
enum { ShortWrite = -1 };

static char g_root[4096];
static size_t g_rootLength;
static long g_at;
static enum Kind g_kind = KindNone;
static long g_count;
static int g_full;
static const char *g_countFile;
static const char *g_logFile;
static size_t g_noSize; /* what FD_CALL halves: nothing */

#define REAL(name) ((__typeof__(&name))real(#name))

static void *real(const char *name)
{
    void *f = dlsym(RTLD_NEXT, name);
    if (!f) {
        static const char msg[] = "faultinject: a libc function is missing\n";
        syscall(SYS_write, 2, msg, sizeof msg - 1);
        abort();
    }
    return f;
}

/* Output of the shim itself: raw system calls, never counted. */
static void writeFile(const char *path, const char *text, int append)
{
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = (int)syscall(SYS_openat, AT_FDCWD, path, flags, 0644);
    if (fd < 0)
        return;
    syscall(SYS_write, fd, text, strlen(text));
    syscall(SYS_close, fd);
}

__attribute__((constructor)) static void start(void)
{
    const char *root = getenv("HOLLIN_FAULT_ROOT");
    if (!root || root[0] != '/' || strlen(root) >= sizeof g_root)
        return;
    strcpy(g_root, root);
    g_rootLength = strlen(g_root);
    while (g_rootLength > 1 && g_root[g_rootLength - 1] == '/')
        g_root[--g_rootLength] = '\0';
    const char *at = getenv("HOLLIN_FAULT_AT");
    g_at = at ? atol(at) : 0;
    const char *kind = getenv("HOLLIN_FAULT_KIND");
    if (kind && strcmp(kind, "enospc") == 0)
        g_kind = KindEnospc;
    else if (kind && strcmp(kind, "eio") == 0)
        g_kind = KindEio;
    else if (kind && strcmp(kind, "kill") == 0)
        g_kind = KindKill;
    else if (kind && strcmp(kind, "full") == 0)
        g_kind = KindFull;
    else if (kind && strcmp(kind, "pause") == 0)
        g_kind = KindPause;
    else if (kind && strcmp(kind, "powerloss") == 0)
        g_kind = KindPowerloss;
    if (g_kind == KindPowerloss)
        powerlossStart(g_root);
    g_countFile = getenv("HOLLIN_FAULT_COUNT");
    g_logFile = getenv("HOLLIN_FAULT_LOG");
}

static void logFired(const char *call, const char *path)
{
    if (!g_logFile)
        return;
    char line[4200];
    snprintf(line, sizeof line, "%s %s\n", call, path);
    writeFile(g_logFile, line, 1);
}

__attribute__((destructor)) static void finish(void)
{
    // A power cut just after the program ended: what it left unflushed is lost too.
    if (g_kind == KindPowerloss && g_at == __atomic_load_n(&g_count, __ATOMIC_SEQ_CST) + 1) {
        logFired("exit", g_root);
        powerlossRestore();
    }
    if (!g_countFile)
        return;
    char text[32];
    snprintf(text, sizeof text, "%ld\n", __atomic_load_n(&g_count, __ATOMIC_SEQ_CST));
    writeFile(g_countFile, text, 0);
}

static int insideRoot(const char *absolute)
{
    return g_rootLength > 0 && strncmp(absolute, g_root, g_rootLength) == 0
        && (absolute[g_rootLength] == '/' || absolute[g_rootLength] == '\0');
}

/* The absolute form of path relative to dirfd, in out; 0 when it cannot be told. */
static int absolutePath(int dirfd, const char *path, char *out, size_t size)
{
    if (!path)
        return 0;
    if (path[0] == '/') {
        snprintf(out, size, "%s", path);
        return 1;
    }
    char base[4096];
    if (dirfd == AT_FDCWD) {
        if (!getcwd(base, sizeof base))
            return 0;
    } else {
        char link[64];
        snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
        const ssize_t n = readlink(link, base, sizeof base - 1);
        if (n <= 0)
            return 0;
        base[n] = '\0';
    }
    const size_t baseLength = strlen(base);
    const size_t pathLength = strlen(path);
    if (baseLength + 1 + pathLength + 1 > size)
        return 0;
    memcpy(out, base, baseLength);
    out[baseLength] = '/';
    memcpy(out + baseLength + 1, path, pathLength + 1);
    return 1;
}

/* The path of fd in out when it is a file this shim counts. */
static int countedFd(int fd, int foldersToo, char *out, size_t size)
{
    if (g_rootLength == 0)
        return 0;
    struct stat st;
    if (fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || (foldersToo && S_ISDIR(st.st_mode))))
        return 0;
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, out, size - 1);
    if (n <= 0)
        return 0;
    out[n] = '\0';
    return insideRoot(out);
}

static int countedPath(int dirfd, const char *path, char *out, size_t size)
{
    return g_rootLength > 0 && absolutePath(dirfd, path, out, size) && insideRoot(out);
}

static int needsSpace(const char *call)
{
    static const char *const freeCalls[] = {"fsync", "fdatasync", "syncfs", "ftruncate", "unlink"};
    for (size_t i = 0; i < sizeof freeCalls / sizeof freeCalls[0]; ++i) {
        if (strncmp(call, freeCalls[i], strlen(freeCalls[i])) == 0)
            return 0;
    }
    return 1;
}

static int isFlush(const char *call)
{
    return strstr(call, "sync") != NULL;
}

static int isWrite(const char *call)
{
    return strstr(call, "write") != NULL || strcmp(call, "copy_file_range") == 0;
}

/* Counts one call; 0: make it, ShortWrite: make it with half the bytes, else
 * the errno to fail it with (kills itself for KindKill). */
static int fault(const char *call, const char *path)
{
    const long n = __atomic_add_fetch(&g_count, 1, __ATOMIC_SEQ_CST);
    if (__atomic_load_n(&g_full, __ATOMIC_SEQ_CST))
        return needsSpace(call) ? ENOSPC : 0;
    if (g_kind == KindPowerloss && n != g_at && !isFlush(call))
        powerlossTouch(path);
    if (g_at <= 0 || n != g_at || g_kind == KindNone)
        return 0;
    logFired(call, path);
    switch (g_kind) {
    case KindPowerloss:
        powerlossRestore();
        syscall(SYS_kill, getpid(), SIGKILL);
        for (;;)
            pause();
    case KindKill:
        syscall(SYS_kill, getpid(), SIGKILL);
        for (;;)
            pause();
    case KindPause:
        syscall(SYS_kill, getpid(), SIGSTOP);
        return 0;
    case KindFull:
        __atomic_store_n(&g_full, 1, __ATOMIC_SEQ_CST);
        return isWrite(call) ? ShortWrite : needsSpace(call) ? ENOSPC : 0;
    case KindEnospc:
        return ENOSPC;
    default:
        return EIO;
    }
}

#define FD_CALL(name, fd, foldersToo) SIZED_CALL(name, fd, foldersToo, g_noSize)

/* A counted call on fd; a short write halves size (a variable of the caller). */
#define SIZED_CALL(name, fd, foldersToo, size)                          \
    do {                                                                \
        char path_[4096];                                               \
        if (countedFd((fd), (foldersToo), path_, sizeof path_)) {       \
            const int e_ = fault(name, path_);                          \
            if (e_ == ShortWrite && (size) > 1) {                       \
                (size) /= 2;                                            \
            } else if (e_) {                                            \
                errno = e_ == ShortWrite ? ENOSPC : e_;                 \
                return -1;                                              \
            }                                                           \
        }                                                               \
    } while (0)

#define PATH_CALL(name, dirfd, p)                                       \
    do {                                                                \
        char path_[4096];                                               \
        if (countedPath((dirfd), (p), path_, sizeof path_)) {           \
            const int e_ = fault(name, path_);                          \
            if (e_) {                                                   \
                errno = e_ == ShortWrite ? ENOSPC : e_;                 \
                return -1;                                              \
            }                                                           \
        }                                                               \
    } while (0)

/* The power-loss model of a name about to change (removing: or go). */
static void modelName(int dirfd, const char *path, int removing)
{
    char absolute[4096];
    if (g_kind != KindPowerloss || !countedPath(dirfd, path, absolute, sizeof absolute))
        return;
    if (removing)
        powerlossRemoving(absolute);
    else
        powerlossTouch(absolute);
}

/* The power-loss model of a flush of fd that succeeded. */
static int modelFlushed(int fd, int result, int everything)
{
    char path[4096];
    if (result == 0 && g_kind == KindPowerloss && countedFd(fd, 1, path, sizeof path)) {
        if (everything)
            powerlossFlushedAll();
        else
            powerlossFlushed(fd, path);
    }
    return result;
}

static int writeIntent(int flags)
{
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
}

static mode_t modeArgument(int flags, va_list args)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(args, int) : 0;
}

ssize_t write(int fd, const void *data, size_t size)
{
    SIZED_CALL("write", fd, 0, size);
    return REAL(write)(fd, data, size);
}

ssize_t pwrite(int fd, const void *data, size_t size, off_t offset)
{
    SIZED_CALL("pwrite", fd, 0, size);
    return REAL(pwrite)(fd, data, size, offset);
}

ssize_t pwrite64(int fd, const void *data, size_t size, off64_t offset)
{
    SIZED_CALL("pwrite64", fd, 0, size);
    return REAL(pwrite64)(fd, data, size, offset);
}

ssize_t writev(int fd, const struct iovec *iov, int count)
{
    FD_CALL("writev", fd, 0);
    return REAL(writev)(fd, iov, count);
}

ssize_t pwritev(int fd, const struct iovec *iov, int count, off_t offset)
{
    FD_CALL("pwritev", fd, 0);
    return REAL(pwritev)(fd, iov, count, offset);
}

ssize_t pwritev64(int fd, const struct iovec *iov, int count, off64_t offset)
{
    FD_CALL("pwritev64", fd, 0);
    return REAL(pwritev64)(fd, iov, count, offset);
}

int fsync(int fd)
{
    FD_CALL("fsync", fd, 1);
    return modelFlushed(fd, REAL(fsync)(fd), 0);
}

int fdatasync(int fd)
{
    FD_CALL("fdatasync", fd, 1);
    return modelFlushed(fd, REAL(fdatasync)(fd), 0);
}

int syncfs(int fd)
{
    FD_CALL("syncfs", fd, 1);
    return modelFlushed(fd, REAL(syncfs)(fd), 1);
}

int ftruncate(int fd, off_t length)
{
    FD_CALL("ftruncate", fd, 0);
    return REAL(ftruncate)(fd, length);
}

int ftruncate64(int fd, off64_t length)
{
    FD_CALL("ftruncate64", fd, 0);
    return REAL(ftruncate64)(fd, length);
}

ssize_t copy_file_range(int in, off64_t *inOffset, int out, off64_t *outOffset, size_t length, unsigned flags)
{
    SIZED_CALL("copy_file_range", out, 0, length);
    return REAL(copy_file_range)(in, inOffset, out, outOffset, length, flags);
}

#define OPEN_BODY(name, dirfd, path, flags)                             \
    va_list args;                                                       \
    va_start(args, flags);                                              \
    const mode_t mode = modeArgument(flags, args);                      \
    va_end(args);                                                       \
    if (writeIntent(flags))                                             \
        PATH_CALL(name, dirfd, path);

int open(const char *path, int flags, ...)
{
    OPEN_BODY("open", AT_FDCWD, path, flags)
    return REAL(open)(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    OPEN_BODY("open64", AT_FDCWD, path, flags)
    return REAL(open64)(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    OPEN_BODY("openat", dirfd, path, flags)
    return REAL(openat)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    OPEN_BODY("openat64", dirfd, path, flags)
    return REAL(openat64)(dirfd, path, flags, mode);
}

int creat(const char *path, mode_t mode)
{
    PATH_CALL("creat", AT_FDCWD, path);
    return REAL(creat)(path, mode);
}

int creat64(const char *path, mode_t mode)
{
    PATH_CALL("creat64", AT_FDCWD, path);
    return REAL(creat64)(path, mode);
}

/* glibc creates these files with an internal open that the shim cannot see. */
int mkstemp(char *pattern)
{
    PATH_CALL("mkstemp", AT_FDCWD, pattern);
    return REAL(mkstemp)(pattern);
}

int mkostemp(char *pattern, int flags)
{
    PATH_CALL("mkostemp", AT_FDCWD, pattern);
    return REAL(mkostemp)(pattern, flags);
}

int mkstemp64(char *pattern)
{
    PATH_CALL("mkstemp64", AT_FDCWD, pattern);
    return REAL(mkstemp64)(pattern);
}

int mkostemp64(char *pattern, int flags)
{
    PATH_CALL("mkostemp64", AT_FDCWD, pattern);
    return REAL(mkostemp64)(pattern, flags);
}

int rename(const char *from, const char *to)
{
    PATH_CALL("rename", AT_FDCWD, to);
    modelName(AT_FDCWD, from, 0);
    modelName(AT_FDCWD, to, 1);
    return REAL(rename)(from, to);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    PATH_CALL("renameat", toDir, to);
    modelName(fromDir, from, 0);
    modelName(toDir, to, 1);
    return REAL(renameat)(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    PATH_CALL("renameat2", toDir, to);
    modelName(fromDir, from, 0);
    modelName(toDir, to, 1);
    return REAL(renameat2)(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to)
{
    PATH_CALL("link", AT_FDCWD, to);
    modelName(AT_FDCWD, from, 0);
    return REAL(link)(from, to);
}

int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    PATH_CALL("linkat", toDir, to);
    modelName(fromDir, from, 0);
    return REAL(linkat)(fromDir, from, toDir, to, flags);
}

int unlink(const char *path)
{
    PATH_CALL("unlink", AT_FDCWD, path);
    modelName(AT_FDCWD, path, 1);
    return REAL(unlink)(path);
}

int unlinkat(int dirfd, const char *path, int flags)
{
    PATH_CALL("unlinkat", dirfd, path);
    modelName(dirfd, path, !(flags & AT_REMOVEDIR));
    return REAL(unlinkat)(dirfd, path, flags);
}

int mkdir(const char *path, mode_t mode)
{
    PATH_CALL("mkdir", AT_FDCWD, path);
    return REAL(mkdir)(path, mode);
}

int mkdirat(int dirfd, const char *path, mode_t mode)
{
    PATH_CALL("mkdirat", dirfd, path);
    return REAL(mkdirat)(dirfd, path, mode);
}
