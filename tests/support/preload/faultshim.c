/* Faults the test suite puts into a real program with LD_PRELOAD:
 *
 *   BENCHTEST_SHIM_WALL_SHIFT_FILE=<file>  the wall clock (CLOCK_REALTIME,
 *       gettimeofday, time) runs shifted by the whole seconds written in
 *       <file>, read again every 20 ms: a test steps the clock mid-run by
 *       rewriting it. The monotonic clock is left alone.
 *   BENCHTEST_SHIM_FAIL_RECORDS=1  every rename or link onto a name ending
 *       in ".json" fails with EIO: no run record can be put in place.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static long long shiftSeconds;
static long long shiftReadAtNs = -1;

static int (*realClockGettime)(clockid_t, struct timespec *);

static long long monotonicNs(void)
{
    struct timespec now;
    realClockGettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

static long long currentShift(void)
{
    const char *file = getenv("BENCHTEST_SHIM_WALL_SHIFT_FILE");
    if (!file)
        return 0;
    const long long now = monotonicNs();
    if (shiftReadAtNs >= 0 && now - shiftReadAtNs < 20000000LL)
        return shiftSeconds;
    shiftReadAtNs = now;
    const int fd = open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return shiftSeconds;
    char text[32] = {0};
    if (read(fd, text, sizeof text - 1) > 0)
        shiftSeconds = strtoll(text, NULL, 10);
    close(fd);
    return shiftSeconds;
}

static void resolve(void)
{
    if (!realClockGettime)
        realClockGettime = (int (*)(clockid_t, struct timespec *))dlsym(RTLD_NEXT, "clock_gettime");
}

int clock_gettime(clockid_t clock, struct timespec *time)
{
    resolve();
    const int result = realClockGettime(clock, time);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        time->tv_sec += currentShift();
    return result;
}

int gettimeofday(struct timeval *restrict time, void *restrict zone)
{
    (void)zone;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    time->tv_sec = now.tv_sec;
    time->tv_usec = now.tv_nsec / 1000;
    return 0;
}

time_t time(time_t *out)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (out)
        *out = now.tv_sec;
    return now.tv_sec;
}

static int refusesRecord(const char *to)
{
    if (!getenv("BENCHTEST_SHIM_FAIL_RECORDS"))
        return 0;
    const size_t length = strlen(to);
    return length >= 5 && strcmp(to + length - 5, ".json") == 0;
}

int rename(const char *from, const char *to)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    if (refusesRecord(to)) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

int link(const char *from, const char *to)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "link");
    if (refusesRecord(to)) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags)
{
    static int (*real)(int, const char *, int, const char *, int);
    if (!real)
        real = (int (*)(int, const char *, int, const char *, int))dlsym(RTLD_NEXT, "linkat");
    if (refusesRecord(to)) {
        errno = EIO;
        return -1;
    }
    return real(fromFolder, from, toFolder, to, flags);
}
