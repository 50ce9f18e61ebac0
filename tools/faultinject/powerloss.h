/* What a power cut leaves of a data root: the shim's model of the disk.
 *
 * Whatever the process finds when it starts counts as on the disk. From then
 * on the model keeps, per folder of the root, the entries that are on the
 * disk (name, kind, and for a file the content on the disk), taken when a
 * counted call first changes something in that folder (copy on first change):
 *   - the content of a file reaches the disk with fsync or fdatasync of it;
 *     a new file that never had one is empty on the disk;
 *   - a name made, changed or removed (open with O_CREAT, mkstemp, O_TMPFILE
 *     then linkat, rename, link, unlink, mkdir) reaches the disk with fsync
 *     of its folder;
 *   - syncfs puts everything on the disk.
 * powerlossRestore() rewrites the root to that state: names that never
 * reached the disk go, names that did come back, and every file holds its
 * content on the disk.
 *
 * Not modelled: the file system's own ordering (ext4 data=ordered writes the
 * data of a file before a commit that names it: here nothing unflushed
 * survives), sync_file_range, writes through mmap or inside libc (stdio),
 * folders renamed or removed with content, hard links kept as links (each
 * name gets its own copy), a part of a write reaching the disk, and the state
 * a process found at its start, which counts as on the disk even when the
 * process before it did not flush it.
 */
#pragma once

/* Starts the model with root, the absolute data root. */
void powerlossStart(const char *root);
/* A counted call is about to change something in the folder of path (a
 * file's path for writes, the name for name operations). */
void powerlossTouch(const char *path);
/* The name path is about to go (unlink, or a rename over it). */
void powerlossRemoving(const char *path);
/* fsync or fdatasync of fd (a file or a folder at path) succeeded. */
void powerlossFlushed(int fd, const char *path);
/* syncfs succeeded. */
void powerlossFlushedAll(void);
/* Rewrites the root to what is on the disk. */
void powerlossRestore(void);
