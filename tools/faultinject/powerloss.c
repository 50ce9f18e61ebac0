/* The shim's model of what is on the disk (see powerloss.h). Every file
 * access here is a raw system call: nothing of it is counted or modelled. */
#define _GNU_SOURCE
#include "powerloss.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

/* The content on the disk of one file; live while its inode still has a
 * name (a reused inode number then gets a slot of its own). */
struct Slot {
    dev_t dev;
    ino_t ino;
    int live;
    char *data;
    size_t size;
    mode_t mode;
    struct timespec mtime;
};

struct Entry {
    char name[256];
    int isFolder;
    long slot; /* files: index into g_slots */
};

/* A folder whose entries on the disk the model keeps. */
struct Folder {
    char path[4096];
    struct Entry *entries;
    size_t count;
};

static int g_on;
static char g_root[4096];
static size_t g_rootLength;
static struct Slot *g_slots;
static size_t g_slotCount;
static struct Folder *g_folders;
static size_t g_folderCount;
static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

static int sysOpenAt(int dirfd, const char *path, int flags, mode_t mode)
{
    return (int)syscall(SYS_openat, dirfd, path, flags | O_CLOEXEC, mode);
}

static void sysClose(int fd)
{
    syscall(SYS_close, fd);
}

static int sysStatAt(int dirfd, const char *name, struct stat *st)
{
    return (int)syscall(SYS_newfstatat, dirfd, name, st, AT_SYMLINK_NOFOLLOW);
}

static void *grow(void *array, size_t count, size_t size)
{
    /* Doubles at each power of two. */
    if (count == 0 || (count & (count - 1)) == 0)
        return realloc(array, (count ? count * 2 : 8) * size);
    return array;
}

static long newSlot(const struct stat *st, char *data, size_t size)
{
    struct Slot *slots = grow(g_slots, g_slotCount, sizeof *g_slots);
    if (!slots)
        abort();
    g_slots = slots;
    g_slots[g_slotCount] = (struct Slot){st->st_dev, st->st_ino, 1, data, size, st->st_mode & 07777, st->st_mtim};
    return (long)g_slotCount++;
}

static long liveSlot(dev_t dev, ino_t ino)
{
    for (size_t i = 0; i < g_slotCount; ++i) {
        if (g_slots[i].live && g_slots[i].dev == dev && g_slots[i].ino == ino)
            return (long)i;
    }
    return -1;
}

/* The whole content of fd (a regular file of st). */
static char *readAll(int fd, const struct stat *st, size_t *size)
{
    char *data = malloc((size_t)st->st_size + 1);
    if (!data)
        abort();
    size_t done = 0;
    while (done < (size_t)st->st_size) {
        const long n = syscall(SYS_pread64, fd, data + done, (size_t)st->st_size - done, (off_t)done);
        if (n <= 0)
            break;
        done += (size_t)n;
    }
    *size = done;
    return data;
}

/* The slot of the file name in dirfd, its content read now when it has none. */
static long slotOf(int dirfd, const char *name, const struct stat *st)
{
    const long slot = liveSlot(st->st_dev, st->st_ino);
    if (slot >= 0)
        return slot;
    const int fd = sysOpenAt(dirfd, name, O_RDONLY | O_NOFOLLOW, 0);
    if (fd < 0)
        return newSlot(st, NULL, 0);
    size_t size = 0;
    char *data = readAll(fd, st, &size);
    sysClose(fd);
    return newSlot(st, data, size);
}

/* The folder's entries now. fresh: files without a slot (new, never flushed)
 * are empty on the disk; otherwise their content now is. */
static int listFolder(const char *path, struct Entry **out, size_t *count, int fresh)
{
    *out = NULL;
    *count = 0;
    const int dirfd = sysOpenAt(AT_FDCWD, path, O_RDONLY | O_DIRECTORY, 0);
    if (dirfd < 0)
        return 0;
    char buffer[8192];
    long n;
    while ((n = syscall(SYS_getdents64, dirfd, buffer, sizeof buffer)) > 0) {
        for (long at = 0; at < n;) {
            const struct dirent64 *d = (const struct dirent64 *)(buffer + at);
            at += d->d_reclen;
            struct stat st;
            if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0 || strlen(d->d_name) >= 256
                || sysStatAt(dirfd, d->d_name, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
                continue;
            struct Entry *entries = grow(*out, *count, sizeof **out);
            if (!entries)
                abort();
            *out = entries;
            struct Entry *e = &entries[(*count)++];
            strcpy(e->name, d->d_name);
            e->isFolder = S_ISDIR(st.st_mode);
            e->slot = -1;
            if (!e->isFolder) {
                const long live = liveSlot(st.st_dev, st.st_ino);
                e->slot = live >= 0 ? live : fresh ? newSlot(&st, NULL, 0) : slotOf(dirfd, d->d_name, &st);
            }
        }
    }
    sysClose(dirfd);
    return 1;
}

static struct Folder *folderAt(const char *path)
{
    for (size_t i = 0; i < g_folderCount; ++i) {
        if (strcmp(g_folders[i].path, path) == 0)
            return &g_folders[i];
    }
    return NULL;
}

/* Copy on first change: the folder's entries as they are now are on the disk. */
static void keepFolder(const char *path, int flushed)
{
    if (strlen(path) < g_rootLength || strncmp(path, g_root, g_rootLength) != 0)
        return;
    struct Folder *folder = folderAt(path);
    if (folder && !flushed)
        return;
    struct Entry *entries;
    size_t count;
    if (!listFolder(path, &entries, &count, folder != NULL))
        return;
    if (!folder) {
        struct Folder *folders = grow(g_folders, g_folderCount, sizeof *g_folders);
        if (!folders)
            abort();
        g_folders = folders;
        folder = &g_folders[g_folderCount++];
        strcpy(folder->path, path);
        folder->entries = NULL;
    }
    free(folder->entries);
    folder->entries = entries;
    folder->count = count;
}

static void folderOf(const char *path, char *out)
{
    strcpy(out, path);
    char *slash = strrchr(out, '/');
    if (slash && slash != out)
        *slash = '\0';
}

void powerlossStart(const char *root)
{
    strcpy(g_root, root);
    g_rootLength = strlen(root);
    g_on = 1;
}

void powerlossTouch(const char *path)
{
    if (!g_on || strlen(path) >= sizeof g_root)
        return;
    char folder[4096];
    folderOf(path, folder);
    pthread_mutex_lock(&g_lock);
    keepFolder(folder, 0);
    pthread_mutex_unlock(&g_lock);
}

void powerlossRemoving(const char *path)
{
    if (!g_on || strlen(path) >= sizeof g_root)
        return;
    char folder[4096];
    folderOf(path, folder);
    pthread_mutex_lock(&g_lock);
    keepFolder(folder, 0);
    struct stat st;
    // Its last name goes: its inode number may come back for another file.
    if (sysStatAt(AT_FDCWD, path, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
        const long slot = liveSlot(st.st_dev, st.st_ino);
        if (slot >= 0)
            g_slots[slot].live = 0;
    }
    pthread_mutex_unlock(&g_lock);
}

void powerlossFlushed(int fd, const char *path)
{
    if (!g_on)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return;
    pthread_mutex_lock(&g_lock);
    if (S_ISDIR(st.st_mode)) {
        keepFolder(path, 1);
    } else if (S_ISREG(st.st_mode)) {
        char self[64];
        snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        const int readable = sysOpenAt(AT_FDCWD, self, O_RDONLY, 0);
        if (readable >= 0) {
            size_t size = 0;
            char *data = readAll(readable, &st, &size);
            sysClose(readable);
            long slot = liveSlot(st.st_dev, st.st_ino);
            if (slot < 0)
                slot = newSlot(&st, NULL, 0);
            free(g_slots[slot].data);
            g_slots[slot].data = data;
            g_slots[slot].size = size;
            g_slots[slot].mode = st.st_mode & 07777;
            g_slots[slot].mtime = st.st_mtim;
        }
    }
    pthread_mutex_unlock(&g_lock);
}

void powerlossFlushedAll(void)
{
    if (!g_on)
        return;
    pthread_mutex_lock(&g_lock);
    for (size_t i = 0; i < g_slotCount; ++i)
        free(g_slots[i].data);
    for (size_t i = 0; i < g_folderCount; ++i)
        free(g_folders[i].entries);
    free(g_slots);
    free(g_folders);
    g_slots = NULL;
    g_folders = NULL;
    g_slotCount = g_folderCount = 0;
    pthread_mutex_unlock(&g_lock);
}

static void removeTree(int dirfd, const char *name)
{
    if (syscall(SYS_unlinkat, dirfd, name, 0) == 0)
        return;
    const int fd = sysOpenAt(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
    if (fd >= 0) {
        char buffer[8192];
        long n;
        // Reads from the start again while a pass removed something.
        for (int removed = 1, pass = 0; removed && pass < 16; ++pass) {
            removed = 0;
            syscall(SYS_lseek, fd, 0, SEEK_SET);
            while ((n = syscall(SYS_getdents64, fd, buffer, sizeof buffer)) > 0) {
                for (long at = 0; at < n;) {
                    const struct dirent64 *d = (const struct dirent64 *)(buffer + at);
                    at += d->d_reclen;
                    if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) {
                        removeTree(fd, d->d_name);
                        removed = 1;
                    }
                }
            }
        }
        sysClose(fd);
    }
    syscall(SYS_unlinkat, dirfd, name, AT_REMOVEDIR);
}

static int byPathLength(const void *a, const void *b)
{
    const size_t x = strlen(((const struct Folder *)a)->path), y = strlen(((const struct Folder *)b)->path);
    return x < y ? -1 : x > y;
}

static const struct Entry *entryNamed(const struct Entry *entries, size_t count, const char *name)
{
    for (size_t i = 0; i < count; ++i) {
        if (strcmp(entries[i].name, name) == 0)
            return &entries[i];
    }
    return NULL;
}

void powerlossRestore(void)
{
    if (!g_on)
        return;
    pthread_mutex_lock(&g_lock);
    g_on = 0;
    // Parents first: a folder that is not on the disk goes with its parent's entries.
    qsort(g_folders, g_folderCount, sizeof *g_folders, byPathLength);
    for (size_t f = 0; f < g_folderCount; ++f) {
        const struct Folder *folder = &g_folders[f];
        struct Entry *now;
        size_t nowCount;
        if (!listFolder(folder->path, &now, &nowCount, 1))
            continue;
        const int dirfd = sysOpenAt(AT_FDCWD, folder->path, O_RDONLY | O_DIRECTORY, 0);
        for (size_t i = 0; i < nowCount; ++i) {
            const struct Entry *kept = entryNamed(folder->entries, folder->count, now[i].name);
            if (!kept || kept->isFolder != now[i].isFolder)
                removeTree(dirfd, now[i].name);
        }
        free(now);
        for (size_t i = 0; i < folder->count; ++i) {
            const struct Entry *e = &folder->entries[i];
            if (e->isFolder) {
                syscall(SYS_mkdirat, dirfd, e->name, 0700);
                continue;
            }
            const struct Slot *slot = &g_slots[e->slot];
            // The same file keeps its inode (the program tells its files by inode and time).
            struct stat st;
            int fd = -1;
            if (sysStatAt(dirfd, e->name, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == slot->dev
                && st.st_ino == slot->ino)
                fd = sysOpenAt(dirfd, e->name, O_WRONLY | O_TRUNC | O_NOFOLLOW, 0);
            if (fd < 0) {
                syscall(SYS_unlinkat, dirfd, e->name, 0);
                fd = sysOpenAt(dirfd, e->name, O_WRONLY | O_CREAT | O_EXCL, slot->mode ? slot->mode : 0600);
            }
            for (size_t done = 0; fd >= 0 && done < slot->size;) {
                const long n = syscall(SYS_write, fd, slot->data + done, slot->size - done);
                if (n <= 0)
                    break;
                done += (size_t)n;
            }
            if (fd >= 0) {
                const struct timespec times[2] = {{0, UTIME_OMIT}, slot->mtime};
                syscall(SYS_utimensat, fd, NULL, times, 0);
                sysClose(fd);
            }
        }
        sysClose(dirfd);
    }
    pthread_mutex_unlock(&g_lock);
}
