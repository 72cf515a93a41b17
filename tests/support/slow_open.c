// Makes the opening of one device slow, as a wireless serial device is (a Bluetooth link connects
// inside open()), so tests can see what the program does while a port takes seconds to open.
// Preloaded into the program under test:
//
//   LD_PRELOAD=libslow_open.so SLOW_OPEN_DEVICE=/path/COM1 SLOW_OPEN_SECONDS=4 piezon
//
// An open of SLOW_OPEN_DEVICE (the path as given, or the file it leads to: a COMn link and the
// pseudo-terminal behind it are the same device) sleeps SLOW_OPEN_SECONDS (default 4, fractions
// allowed) and then opens for real. Every other open goes straight through. The device is looked
// up at each open, so a link pointed at a new pseudo-terminal is followed.
//
// While the file named by SLOW_OPEN_FAIL_FILE exists, the slow open then fails instead, with the
// error number written in it (112, EHOSTDOWN: a wireless gauge that is off or out of range).
//
// A program built with AddressSanitizer wants its run-time first in the library list; run it
// with ASAN_OPTIONS=verify_asan_link_order=0 as well.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

// The definitions we stand in front of (the C library's, or a sanitizer's own in front of it).
// ISO C has no cast from an object pointer to a function pointer; a union reads it as one.
union next_fn {
    void* symbol;
    int (*open)(const char*, int, ...);
    int (*openat)(int, const char*, int, ...);
    int (*open_2)(const char*, int);
};

static union next_fn real(const char* name)
{
    union next_fn fn;
    fn.symbol = dlsym(RTLD_NEXT, name);
    if (!fn.symbol) {
        // Nothing sensible can be opened without it; say so rather than crash somewhere later.
        fputs("slow_open: no next definition of an open function\n", stderr);
        abort();
    }
    return fn;
}

// The mode argument exists only when the flags create a file; reading it otherwise reads
// whatever happens to be in the register.
static int takes_mode(int flags)
{
#ifdef O_TMPFILE
    if ((flags & O_TMPFILE) == O_TMPFILE)
        return 1;
#endif
    return (flags & O_CREAT) != 0;
}

// The variadic mode argument after `flags`, or 0 where there is none.
#define MODE_ARGUMENT(flags, mode)                                                                 \
    mode_t mode = 0;                                                                               \
    if (takes_mode(flags)) {                                                                       \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode = (mode_t)va_arg(args, int);                                                          \
        va_end(args);                                                                              \
    }

static int is_slow_device(int dirfd, const char* path)
{
    const char* device = getenv("SLOW_OPEN_DEVICE");
    if (!device || !*device || !path)
        return 0;
    if (strcmp(path, device) == 0)
        return 1;

    char wanted[PATH_MAX];
    char opened[PATH_MAX];
    // A path relative to a directory descriptor is resolved through the kernel's own name for
    // that directory.
    char joined[PATH_MAX];
    if (path[0] != '/' && dirfd != AT_FDCWD) {
        int n = snprintf(joined, sizeof joined, "/proc/self/fd/%d/%s", dirfd, path);
        if (n < 0 || (size_t)n >= sizeof joined)
            return 0;
        path = joined;
    }
    // realpath() keeps errno only on success; the caller's errno must not change either way.
    int saved = errno;
    int same = realpath(device, wanted) && realpath(path, opened) && strcmp(wanted, opened) == 0;
    errno = saved;
    return same;
}

static void linger(void)
{
    const char* text = getenv("SLOW_OPEN_SECONDS");
    double seconds = 4;
    if (text && *text) {
        char* end = NULL;
        double parsed = strtod(text, &end);
        if (end != text && *end == '\0' && parsed >= 0)
            seconds = parsed;
    }
    struct timespec left;
    left.tv_sec = (time_t)seconds;
    left.tv_nsec = (long)((seconds - (double)left.tv_sec) * 1e9);
    int saved = errno;
    // A signal handled meanwhile does not cut the wait short: the device is just as slow.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    errno = saved;
}

// The error the slow open is to end in, or 0 to open for real. Read at each open, so that a test
// can switch it while the program runs.
static int injected_error(void)
{
    const char* name = getenv("SLOW_OPEN_FAIL_FILE");
    if (!name || !*name)
        return 0;
    int saved = errno;
    int error = 0;
    FILE* file = fopen(name, "r");
    if (file) {
        if (fscanf(file, "%d", &error) != 1 || error < 0)
            error = 0;
        fclose(file);
    }
    errno = saved;
    return error;
}

// Whether this open is of the slow device; if so, it has waited, and *error says how it ends.
static int slow_open(int dirfd, const char* path, int* error)
{
    if (!is_slow_device(dirfd, path))
        return 0;
    linger();
    *error = injected_error();
    return 1;
}

static int open_with(const char* name, const char* path, int flags, mode_t mode)
{
    int error = 0;
    if (slow_open(AT_FDCWD, path, &error) && error) {
        errno = error;
        return -1;
    }
    return real(name).open(path, flags, mode);
}

static int openat_with(const char* name, int dirfd, const char* path, int flags, mode_t mode)
{
    int error = 0;
    if (slow_open(dirfd, path, &error) && error) {
        errno = error;
        return -1;
    }
    return real(name).openat(dirfd, path, flags, mode);
}

int open(const char* path, int flags, ...)
{
    MODE_ARGUMENT(flags, mode);
    return open_with("open", path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    MODE_ARGUMENT(flags, mode);
    return open_with("open64", path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...)
{
    MODE_ARGUMENT(flags, mode);
    return openat_with("openat", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...)
{
    MODE_ARGUMENT(flags, mode);
    return openat_with("openat64", dirfd, path, flags, mode);
}

// What the C library's fortified open() calls when the flags are known to need no mode.
int __open_2(const char* path, int flags)
{
    int error = 0;
    if (slow_open(AT_FDCWD, path, &error) && error) {
        errno = error;
        return -1;
    }
    return real("__open_2").open_2(path, flags);
}

int __open64_2(const char* path, int flags)
{
    int error = 0;
    if (slow_open(AT_FDCWD, path, &error) && error) {
        errno = error;
        return -1;
    }
    return real("__open64_2").open_2(path, flags);
}
