/* LD_PRELOAD library for Wine: gives pseudo-terminals the modem lines a real serial port has.
 * The unit's lines (CTS, DSR, CD, RI) come from a small text file that the simulated unit
 * rewrites; the lines the PC drives (DTR, RTS) are written to "<file>.pc" for it to read.
 * Both files hold the TIOCM_* bits as decimal text, so either side can be a shell script.
 *
 * With several units in one process, VARNEX_MODEM_MAP gives each pty its own file:
 * "/dev/pts/3=/tmp/u1/modem;/dev/pts/5=/tmp/u2/modem"; a pty not named there uses the one file.
 *
 * Wine's 32-bit side calls __ioctl_time64, its 64-bit side ioctl: both are answered here.
 * Every open also gets O_NOCTTY, so that no Wine process (the wineserver opens the port for
 * the program) adopts the pty as its controlling terminal and is hung up when the peer goes.
 *
 * A pty hands written bytes to the unit's side at once, where a real port's queue leaves at
 * the line's speed. Where the simulated unit keeps "<file>.lineN" (N the pty's number: two
 * 64-bit counters, bytes the PC wrote and bytes the unit read), every write to the pty is
 * counted there and TIOCOUTQ answers with the bytes the unit has not read yet, so that a
 * drain waits for the line as on a real port. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#define MODEM_FILE_ENV "VARNEX_MODEM_FILE"
#define MODEM_MAP_ENV "VARNEX_MODEM_MAP"
#define PC_FILE_SUFFIX ".pc"
#define PTS_PREFIX "/dev/pts/"
#define MAX_PATH_CHARS 4096
#define MAX_NUMBER_CHARS 32
#define LINE_FILE_SUFFIX ".line"
#define PTY_SLAVE_MAJOR_FIRST 136 /* Unix98 pty slaves use majors 136 to 143 */
#define PTY_SLAVE_MAJOR_LAST 143

/* The lines the unit drives and the lines the PC drives. */
static const int kUnitBits = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RI;
static const int kPcBits = TIOCM_DTR | TIOCM_RTS;

typedef int (*ioctl_fn)(int, unsigned long, void*);
typedef int (*open_fn)(const char*, int, mode_t);
typedef int (*openat_fn)(int, const char*, int, mode_t);

/* The pty slave's path ("/dev/pts/3") into target; 0 when fd is no pty slave. */
static int pty_slave_path(int fd, char* target, size_t size) {
    char link[MAX_PATH_CHARS / 16];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, size - 1);
    if (n <= 0) return 0;
    target[n] = '\0';
    return strncmp(target, PTS_PREFIX, strlen(PTS_PREFIX)) == 0;
}

/* The modem file of this pty: its entry in VARNEX_MODEM_MAP, else VARNEX_MODEM_FILE. */
static int modem_file_for(const char* pty, char* out, size_t size) {
    const char* map = getenv(MODEM_MAP_ENV);
    size_t pty_len = strlen(pty);
    while (map != NULL && *map != '\0') {
        const char* end = strchr(map, ';');
        size_t len = end ? (size_t)(end - map) : strlen(map);
        if (len > pty_len + 1 && strncmp(map, pty, pty_len) == 0 && map[pty_len] == '=') {
            size_t file_len = len - pty_len - 1;
            if (file_len >= size) return 0;
            memcpy(out, map + pty_len + 1, file_len);
            out[file_len] = '\0';
            return 1;
        }
        map = end ? end + 1 : NULL;
    }
    const char* single = getenv(MODEM_FILE_ENV);
    if (single == NULL || *single == '\0' || strlen(single) >= size) return 0;
    strcpy(out, single);
    return 1;
}

/* Reads a decimal number from a file; a missing, empty or unreadable file counts as 0. */
static int read_bits(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[MAX_NUMBER_CHARS];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    return (int)strtol(text, NULL, 10);
}

/* Writes through a temporary file and rename, so a reader never sees half a number. */
static void write_bits(const char* path, int bits) {
    char temp[MAX_PATH_CHARS];
    if (snprintf(temp, sizeof temp, "%s.%d.tmp", path, (int)getpid()) >= (int)sizeof temp) return;
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char text[MAX_NUMBER_CHARS];
    int len = snprintf(text, sizeof text, "%d\n", bits);
    int ok = write(fd, text, (size_t)len) == len;
    close(fd);
    if (!ok || rename(temp, path) != 0) unlink(temp);
}

static int pc_path(const char* unit_path, char* out, size_t size) {
    return snprintf(out, size, "%s%s", unit_path, PC_FILE_SUFFIX) < (int)size;
}

/* Answers the four modem-line requests; returns 1 when it handled the call. */
static int handle_modem_request(int fd, unsigned long request, void* arg, int* result) {
    if (request != TIOCMGET && request != TIOCMBIS && request != TIOCMBIC && request != TIOCMSET) return 0;
    char pty[MAX_PATH_CHARS];
    char unit_path[MAX_PATH_CHARS];
    if (!pty_slave_path(fd, pty, sizeof pty) || !modem_file_for(pty, unit_path, sizeof unit_path)) return 0;
    char pc_file[MAX_PATH_CHARS];
    if (!pc_path(unit_path, pc_file, sizeof pc_file)) return 0;
    if (arg == NULL) {
        errno = EFAULT;
        *result = -1;
        return 1;
    }
    int* bits = (int*)arg;
    int pc = read_bits(pc_file) & kPcBits;
    switch (request) {
        case TIOCMGET: *bits = (read_bits(unit_path) & kUnitBits) | pc; break;
        case TIOCMBIS: write_bits(pc_file, pc | (*bits & kPcBits)); break;
        case TIOCMBIC: write_bits(pc_file, pc & ~(*bits & kPcBits)); break;
        default: /* TIOCMSET */ write_bits(pc_file, *bits & kPcBits); break;
    }
    *result = 0;
    return 1;
}

static void* next_symbol(const char* name) { return dlsym(RTLD_NEXT, name); }

struct line_counters {
    uint64_t written; /* by the PC, counted here */
    uint64_t read;    /* by the unit */
};

/* Cheap test first (every write of the process comes here): a pty slave's device numbers. */
static int is_pty_slave(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return 0;
    unsigned int major_number = major(info.st_rdev);
    return major_number >= PTY_SLAVE_MAJOR_FIRST && major_number <= PTY_SLAVE_MAJOR_LAST;
}

/* Maps the unit's line counters for this pty; null when the unit keeps none. */
static struct line_counters* map_line_counters(int fd) {
    char pty[MAX_PATH_CHARS];
    char unit_path[MAX_PATH_CHARS];
    char line_path[MAX_PATH_CHARS];
    if (!is_pty_slave(fd) || !pty_slave_path(fd, pty, sizeof pty) || !modem_file_for(pty, unit_path, sizeof unit_path))
        return NULL;
    if (snprintf(line_path, sizeof line_path, "%s%s%s", unit_path, LINE_FILE_SUFFIX, pty + strlen(PTS_PREFIX)) >=
        (int)sizeof line_path)
        return NULL;
    int line = open(line_path, O_RDWR | O_CLOEXEC);
    if (line < 0) return NULL;
    void* mapped = mmap(NULL, sizeof(struct line_counters), PROT_READ | PROT_WRITE, MAP_SHARED, line, 0);
    close(line);
    return mapped == MAP_FAILED ? NULL : (struct line_counters*)mapped;
}

static void count_written(int fd, ssize_t written) {
    if (written <= 0) return;
    struct line_counters* counters = map_line_counters(fd);
    if (counters == NULL) return;
    __atomic_fetch_add(&counters->written, (uint64_t)written, __ATOMIC_RELEASE);
    munmap(counters, sizeof *counters);
}

/* The bytes written that the unit has not read yet; -1 when the unit keeps no counters. */
static int unread_by_unit(int fd) {
    struct line_counters* counters = map_line_counters(fd);
    if (counters == NULL) return -1;
    uint64_t read = __atomic_load_n(&counters->read, __ATOMIC_ACQUIRE);
    uint64_t written = __atomic_load_n(&counters->written, __ATOMIC_ACQUIRE);
    munmap(counters, sizeof *counters);
    return written > read ? (int)(written - read) : 0;
}

typedef ssize_t (*write_fn)(int, const void*, size_t);

ssize_t write(int fd, const void* data, size_t size) {
    static write_fn real;
    if (!real) real = (write_fn)next_symbol("write");
    ssize_t written = real(fd, data, size);
    if (written > 0) {
        int saved = errno;
        count_written(fd, written);
        errno = saved;
    }
    return written;
}

/* A pty forgets PARENB on every settings change, where a real port keeps its parity. Wine
 * reads the settings back before changing only the baud rate, so without this memory a
 * parity set once would be lost at the first baud change. Remembered per pty number, for
 * every number the kernel can give (its Unix98 limit): a busy machine hands out numbers far
 * above the few ptys one test opens. Pages of the table never touched cost no memory. */
#define MAX_PTYS (1 << 20)
static signed char parity_enabled[MAX_PTYS]; /* 0 unknown, 1 on, -1 off */

static int pty_number(int fd) {
    char link[MAX_PATH_CHARS / 16];
    char target[MAX_PATH_CHARS];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return -1;
    target[n] = '\0';
    if (strncmp(target, PTS_PREFIX, strlen(PTS_PREFIX)) != 0) return -1;
    long number = strtol(target + strlen(PTS_PREFIX), NULL, 10);
    return number >= 0 && number < MAX_PTYS ? (int)number : -1;
}

typedef int (*tcsetattr_fn)(int, int, const struct termios*);
typedef int (*tcgetattr_fn)(int, struct termios*);

int tcsetattr(int fd, int actions, const struct termios* settings) {
    static tcsetattr_fn real;
    if (!real) real = (tcsetattr_fn)next_symbol("tcsetattr");
    int result = real(fd, actions, settings);
    int pty = settings ? pty_number(fd) : -1;
    if (result == 0 && pty >= 0) parity_enabled[pty] = (settings->c_cflag & PARENB) ? 1 : -1;
    return result;
}

int tcgetattr(int fd, struct termios* settings) {
    static tcgetattr_fn real;
    if (!real) real = (tcgetattr_fn)next_symbol("tcgetattr");
    int result = real(fd, settings);
    if (result == 0 && settings) {
        int pty = pty_number(fd);
        if (pty >= 0 && parity_enabled[pty] == 1) settings->c_cflag |= PARENB;
    }
    return result;
}

/* Both entry points: answer the modem-line requests, pass everything else on to the C
 * library's own function (the time64 one falls back to ioctl where it does not exist). */
static int forward(ioctl_fn* real, const char* name, int fd, unsigned long request, void* arg) {
    int result;
    if (handle_modem_request(fd, request, arg, &result)) return result;
    if (!*real) *real = (ioctl_fn)next_symbol(name);
    if (!*real) *real = (ioctl_fn)next_symbol("ioctl");
    result = (*real)(fd, request, arg);
    if (result == 0 && request == TIOCOUTQ && arg != NULL) {
        int unread = unread_by_unit(fd);
        if (unread > *(int*)arg) *(int*)arg = unread;
    }
    return result;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static ioctl_fn real;
    return forward(&real, "ioctl", fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static ioctl_fn real;
    return forward(&real, "__ioctl_time64", fd, request, arg);
}

/* The mode argument is only present with O_CREAT or O_TMPFILE; reading it otherwise is
 * harmless on these ABIs but is skipped to stay within the rules of varargs. */
#define TAKE_MODE(flags, mode)                 \
    do {                                       \
        if ((flags) & (O_CREAT | O_TMPFILE)) { \
            va_list args;                      \
            va_start(args, flags);             \
            mode = (mode_t)va_arg(args, int);  \
            va_end(args);                      \
        }                                      \
    } while (0)

#define OPEN_WRAPPER(name)                             \
    int name(const char* path, int flags, ...) {       \
        mode_t mode = 0;                               \
        TAKE_MODE(flags, mode);                        \
        static open_fn real;                           \
        if (!real) real = (open_fn)next_symbol(#name); \
        return real(path, flags | O_NOCTTY, mode);     \
    }

#define OPENAT_WRAPPER(name)                              \
    int name(int dir, const char* path, int flags, ...) { \
        mode_t mode = 0;                                  \
        TAKE_MODE(flags, mode);                           \
        static openat_fn real;                            \
        if (!real) real = (openat_fn)next_symbol(#name);  \
        return real(dir, path, flags | O_NOCTTY, mode);   \
    }

OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)
