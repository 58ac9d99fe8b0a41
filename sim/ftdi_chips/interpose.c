// The calls libusb makes on Linux, redirected to the emulated chips for their paths and
// descriptors and passed on to the C library for everything else.
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "usb_node.h"

// The C library's functions, looked up once when the library is loaded: a lookup later could
// wait for the loader's lock, which dlclose holds while the driver's destructor joins a thread
// that is in read() -- a deadlock.
#define NEXT_FUNCTIONS(X) \
  X(opendir)              \
  X(readdir)              \
  X(readdir64)            \
  X(closedir)             \
  X(open)                 \
  X(open64) X(read) X(close) X(ioctl) X(poll) X(stat) X(stat64) X(access) X(statfs) X(statfs64)
#define DECLARE_NEXT(name) static __typeof__(&name) next_##name;
NEXT_FUNCTIONS(DECLARE_NEXT)

// The union makes dlsym's object pointer a function pointer.
#define LOOK_UP(name)                             \
  next_##name = ((union {                         \
                  void* p;                        \
                  __typeof__(&name) f;            \
                }){.p = dlsym(RTLD_NEXT, #name)}) \
                    .f;
__attribute__((constructor)) static void look_up_next(void) {
  NEXT_FUNCTIONS(LOOK_UP)
}

// A call before the constructor ran (another library's constructor) looks it up then.
#define NEXT(name) (next_##name != NULL ? next_##name : (look_up_next(), next_##name))

// A folder of ours, handed out as a DIR* that only these functions look into.
struct fake_dir {
  uint32_t magic;
  char path[64];
  size_t next;
  struct dirent entry;
};
static const uint32_t kFakeDirMagic = 0x4b465444;  // "KFTD"

// Fake folders are told apart from the C library's by the address: ours are remembered here.
#define MAX_FAKE_DIRS 64
static struct fake_dir* fake_dirs[MAX_FAKE_DIRS];

static struct fake_dir* as_fake(DIR* dir) {
  for (size_t i = 0; i < MAX_FAKE_DIRS; ++i) {
    struct fake_dir* f = __atomic_load_n(&fake_dirs[i], __ATOMIC_ACQUIRE);
    if (f != NULL && (DIR*)f == dir) return f;
  }
  return NULL;
}

DIR* opendir(const char* path) {
  const enum kft_path_kind kind = kft_classify(path);
  if (kind == KFT_PATH_HIDDEN || kind == KFT_PATH_NODE) {
    errno = kind == KFT_PATH_NODE ? ENOTDIR : ENOENT;
    return NULL;
  }
  if (kind != KFT_PATH_DIR) return NEXT(opendir)(path);
  struct fake_dir* f = calloc(1, sizeof *f);
  if (f == NULL) return NULL;
  f->magic = kFakeDirMagic;
  strncpy(f->path, path, sizeof f->path - 1);
  for (size_t i = 0; i < MAX_FAKE_DIRS; ++i) {
    struct fake_dir* expected = NULL;
    if (__atomic_compare_exchange_n(&fake_dirs[i], &expected, f, 0, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
      return (DIR*)f;
    }
  }
  free(f);
  errno = EMFILE;
  return NULL;
}

struct dirent* readdir(DIR* dir) {
  struct fake_dir* f = as_fake(dir);
  if (f == NULL) return NEXT(readdir)(dir);
  if (kft_dir_entry(f->path, f->next, f->entry.d_name, sizeof f->entry.d_name) == NULL) {
    return NULL;
  }
  f->entry.d_ino = 1000 + f->next;
  f->entry.d_type = DT_UNKNOWN;
  f->next++;
  return &f->entry;
}

struct dirent64* readdir64(DIR* dir) {
  if (as_fake(dir) == NULL) return NEXT(readdir64)(dir);
  return (struct dirent64*)readdir(dir);
}

int closedir(DIR* dir) {
  struct fake_dir* f = as_fake(dir);
  if (f == NULL) return NEXT(closedir)(dir);
  for (size_t i = 0; i < MAX_FAKE_DIRS; ++i) {
    struct fake_dir* expected = f;
    __atomic_compare_exchange_n(&fake_dirs[i], &expected, NULL, 0, __ATOMIC_ACQ_REL,
                                __ATOMIC_ACQUIRE);
  }
  free(f);
  return 0;
}

// A node's descriptor is an eventfd: it is a real descriptor (close, fcntl and dup work) whose
// readiness the emulator sets; poll() below shows it as the kernel shows usbfs's.
static int open_node(const char* path) {
  const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) return -1;
  if (kft_node_open(path, fd) != 0) {
    const int saved = errno;
    NEXT(close)(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

static int open_common(const char* path, int flags, mode_t mode,
                       int (*next)(const char*, int, ...)) {
  switch (kft_classify(path)) {
    case KFT_PATH_NODE:
      return open_node(path);
    case KFT_PATH_HIDDEN:
      errno = ENOENT;
      return -1;
    case KFT_PATH_DIR:
      errno = EISDIR;
      return -1;
    default:
      return next(path, flags, mode);
  }
}

static mode_t mode_of(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_of(flags, args);
  va_end(args);
  return open_common(path, flags, mode, NEXT(open));
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = mode_of(flags, args);
  va_end(args);
  return open_common(path, flags, mode, NEXT(open64));
}

ssize_t read(int fd, void* buffer, size_t length) {
  if (kft_is_node(fd)) return kft_node_read(fd, buffer, length);
  return NEXT(read)(fd, buffer, length);
}

int close(int fd) {
  if (kft_is_node(fd)) kft_node_close(fd);
  return NEXT(close)(fd);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (kft_is_node(fd)) return kft_node_ioctl(fd, request, arg);
  return NEXT(ioctl)(fd, request, arg);
}

// usbfs shows a reapable URB as POLLOUT; the node's eventfd is readable then.
int poll(struct pollfd* fds, nfds_t count, int timeout) {
  int ours = 0;
  for (nfds_t i = 0; i < count; ++i) ours |= fds[i].fd >= 0 && kft_is_node(fds[i].fd);
  if (!ours) return NEXT(poll)(fds, count, timeout);
  short* wanted = malloc(count * sizeof *wanted);
  if (wanted == NULL) return NEXT(poll)(fds, count, timeout);
  for (nfds_t i = 0; i < count; ++i) {
    wanted[i] = fds[i].events;
    if (fds[i].fd >= 0 && kft_is_node(fds[i].fd)) {
      fds[i].events = (wanted[i] & (POLLOUT | POLLWRNORM)) ? POLLIN : 0;
    }
  }
  const int ready = NEXT(poll)(fds, count, timeout);
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].fd >= 0 && kft_is_node(fds[i].fd)) {
      const short got = fds[i].revents;
      fds[i].revents = (short)((got & POLLIN ? (wanted[i] & (POLLOUT | POLLWRNORM)) : 0) |
                               (got & (POLLERR | POLLHUP | POLLNVAL)));
    }
    fds[i].events = wanted[i];
  }
  free(wanted);
  return ready;
}

static int stat_ours(const char* path, struct stat* buf) {
  switch (kft_classify(path)) {
    case KFT_PATH_DIR:
      memset(buf, 0, sizeof *buf);
      buf->st_mode = S_IFDIR | 0755;
      buf->st_nlink = 2;
      return 0;
    case KFT_PATH_NODE:
      memset(buf, 0, sizeof *buf);
      buf->st_mode = S_IFCHR | 0666;
      buf->st_nlink = 1;
      buf->st_rdev = makedev(189, 0);
      return 0;
    case KFT_PATH_HIDDEN:
      errno = ENOENT;
      return -1;
    default:
      return 1;
  }
}

int stat(const char* path, struct stat* buf) {
  const int r = stat_ours(path, buf);
  return r != 1 ? r : NEXT(stat)(path, buf);
}

int stat64(const char* path, struct stat64* buf) {
  const int r = stat_ours(path, (struct stat*)buf);
  return r != 1 ? r : NEXT(stat64)(path, buf);
}

int access(const char* path, int mode) {
  switch (kft_classify(path)) {
    case KFT_PATH_DIR:
    case KFT_PATH_NODE:
      return 0;
    case KFT_PATH_HIDDEN:
      errno = ENOENT;
      return -1;
    default:
      return NEXT(access)(path, mode);
  }
}

// A libusb built without udev takes sysfs as mounted when statfs says so, and then lists devices
// in its USB folder alone, which is hidden: to it, sysfs is not mounted, and it lists the nodes.
static int is_sysfs_root(const char* path) {
  return path != NULL && (strcmp(path, "/sys") == 0 || strcmp(path, "/sys/") == 0);
}

int statfs(const char* path, struct statfs* buf) {
  if (!is_sysfs_root(path)) return NEXT(statfs)(path, buf);
  errno = ENOENT;
  return -1;
}

int statfs64(const char* path, struct statfs64* buf) {
  if (!is_sysfs_root(path)) return NEXT(statfs64)(path, buf);
  errno = ENOENT;
  return -1;
}
