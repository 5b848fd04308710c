/*
 * Preloaded into every 32-bit process that qemu-i386 runs for the release tests (binfmt_wrapper.c puts it
 * there). qemu's user-mode emulation differs from a 32-bit Linux kernel in ways that 32-bit Wine cannot
 * live with; each is mended here, inside the process, without changing qemu or Wine:
 *
 * - qemu takes MAP_FIXED_NOREPLACE for a hint and maps elsewhere. Wine asks for taken ranges that way
 *   a hundred times and more while a process starts, and expects the kernel's failure (without it a
 *   32-bit process spent minutes starting). That meaning is restored: a misplaced mapping is undone
 *   and the call fails with EEXIST.
 * - qemu keeps one GDT per process, not one set of TLS entries per thread: a GDT selector has the base
 *   of whichever thread wrote the entry last, and every reload of %fs or %gs (Wine's system call
 *   dispatcher, its signal handlers, qemu's sigreturn) picks that base up. So Wine must not get a GDT
 *   entry for its TEB (set_thread_area(-1) is refused, and Wine gives each thread an LDT selector), and
 *   glibc's %gs is moved to an LDT selector of each thread's own, whose base no other thread changes.
 * - Page faults reach the handler without trap number 14, so Wine would turn every access violation
 *   (and every touch of a stack guard page) into an illegal instruction; the trap number and the fault
 *   address are put back.
 *
 * Built with gcc -m32 -shared by scripts/setup.
 */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))
#define PAGE_FAULT 14
#define LDT_WRITE 0x11
/* Wine leaves LDT entries below 512 to the C library when %gs is an LDT selector at its start. */
#define TLS_ENTRIES 512

/* Direct system calls: glibc's own path (call *%gs:0x10) is not used while %gs is being changed. */
static long raw_syscall3(long number, long first, long second, long third)
{
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "0"(number), "b"(first), "c"(second), "d"(third) : "memory");
    return result;
}

static long raw_syscall4(long number, long first, long second, long third, long fourth)
{
    long result;
    __asm__ volatile("int $0x80"
                     : "=a"(result)
                     : "0"(number), "b"(first), "c"(second), "d"(third), "S"(fourth)
                     : "memory");
    return result;
}

static unsigned short get_gs(void)
{
    unsigned short selector;
    __asm__ volatile("movw %%gs, %0" : "=r"(selector));
    return selector;
}

static void set_gs(unsigned short selector)
{
    __asm__ volatile("movw %0, %%gs" : : "r"(selector) : "memory");
}

static unsigned long tls_base(void)
{
    unsigned long base;
    __asm__ volatile("movl %%gs:0, %0" : "=r"(base));
    return base;
}

static int is_ldt_selector(unsigned short selector)
{
    return (selector & 4) != 0;
}

/* --- glibc's %gs on an LDT selector per thread ---------------------------------------------------- */

/* The GDT selector glibc set up; pthread_create copies its entry number into the new thread's TLS
 * descriptor, so it must be the live %gs while a thread is created. */
static unsigned short gdt_tls_selector;
/* The thread id owning each LDT entry; 0 when free. Entry 0 is never used. */
static volatile int entry_owner[TLS_ENTRIES];

static struct user_desc tls_descriptor(unsigned entry, unsigned long base)
{
    struct user_desc descriptor;
    memset(&descriptor, 0, sizeof descriptor);
    descriptor.entry_number = entry;
    descriptor.base_addr = base;
    descriptor.limit = 0xfffff;
    descriptor.seg_32bit = 1;
    descriptor.limit_in_pages = 1;
    descriptor.useable = 1;
    return descriptor;
}

static int thread_is_gone(int tid)
{
    return raw_syscall3(SYS_tgkill, raw_syscall3(SYS_getpid, 0, 0, 0), tid, 0) == -ESRCH;
}

/* Gives the calling thread an LDT entry with its TLS base and loads %gs from it. A thread that finds
 * none keeps glibc's GDT selector. */
static void move_tls_to_ldt(void)
{
    int tid = (int)raw_syscall3(SYS_gettid, 0, 0, 0);
    for (unsigned entry = 1; entry < TLS_ENTRIES; entry++) {
        int owner = entry_owner[entry];
        if (owner != 0 && (owner == tid || !thread_is_gone(owner)))
            continue;
        if (!__sync_bool_compare_and_swap(&entry_owner[entry], owner, tid))
            continue;
        struct user_desc descriptor = tls_descriptor(entry, tls_base());
        if (raw_syscall3(SYS_modify_ldt, LDT_WRITE, (long)&descriptor, sizeof descriptor) != 0) {
            entry_owner[entry] = 0;
            return;
        }
        set_gs((unsigned short)(entry << 3 | 7));
        return;
    }
}

struct thread_start {
    void *(*routine)(void *);
    void *argument;
    sigset_t mask;
};

static void *start_thread(void *parameter)
{
    struct thread_start start = *(struct thread_start *)parameter;
    free(parameter);
    move_tls_to_ldt();
    raw_syscall4(SYS_rt_sigprocmask, SIG_SETMASK, (long)&start.mask, 0, _NSIG / 8);
    return start.routine(start.argument);
}

EXPORT int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *),
                          void *argument)
{
    static int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    if (!real)
        real = (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))dlsym(RTLD_NEXT,
                                                                                              "pthread_create");
    unsigned short own = get_gs();
    if (!is_ldt_selector(own))
        return real(thread, attributes, routine, argument);

    struct thread_start *start = malloc(sizeof *start);
    if (!start)
        return EAGAIN;
    start->routine = routine;
    start->argument = argument;
    /* No handler may run (and no sigreturn reload %gs) while %gs is the shared GDT selector; the new
     * thread starts with this mask and puts the caller's back. */
    sigset_t all;
    sigfillset(&all);
    raw_syscall4(SYS_rt_sigprocmask, SIG_SETMASK, (long)&all, (long)&start->mask, _NSIG / 8);
    struct user_desc descriptor = tls_descriptor(gdt_tls_selector >> 3, tls_base());
    int result = EAGAIN;
    if (raw_syscall3(SYS_set_thread_area, (long)&descriptor, 0, 0) == 0) {
        set_gs(gdt_tls_selector);
        result = real(thread, attributes, start_thread, start);
        set_gs(own);
    }
    raw_syscall4(SYS_rt_sigprocmask, SIG_SETMASK, (long)&start->mask, 0, _NSIG / 8);
    if (result != 0)
        free(start);
    return result;
}

/* --- page faults ---------------------------------------------------------------------------------- */

static void (*segv_handler)(int, siginfo_t *, void *);

static void relay_segv(int signal, siginfo_t *info, void *context)
{
    ucontext_t *interrupted = context;
    if (info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR) {
        interrupted->uc_mcontext.gregs[REG_TRAPNO] = PAGE_FAULT;
        interrupted->uc_mcontext.cr2 = (unsigned long)info->si_addr;
    }
    segv_handler(signal, info, context);
}

EXPORT int sigaction(int signal, const struct sigaction *action, struct sigaction *old)
{
    static int (*real)(int, const struct sigaction *, struct sigaction *);
    if (!real)
        real = (int (*)(int, const struct sigaction *, struct sigaction *))dlsym(RTLD_NEXT, "sigaction");
    if (signal != SIGSEGV)
        return real(signal, action, old);

    void (*previous)(int, siginfo_t *, void *) = segv_handler;
    struct sigaction relayed;
    if (action && (action->sa_flags & SA_SIGINFO)) {
        relayed = *action;
        segv_handler = action->sa_sigaction;
        relayed.sa_sigaction = relay_segv;
        action = &relayed;
    }
    int result = real(signal, action, old);
    /* The caller sees the handler it installed, as it would without the relay. */
    if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == relay_segv)
        old->sa_sigaction = previous;
    return result;
}

/* --- mappings and the TEB selector ---------------------------------------------------------------- */

static void *checked_placement(void *wanted, void *got, size_t length, int flags)
{
    if ((flags & MAP_FIXED_NOREPLACE) && !(flags & MAP_FIXED) && got != MAP_FAILED && got != wanted) {
        munmap(got, length);
        errno = EEXIST;
        return MAP_FAILED;
    }
    return got;
}

EXPORT void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    static void *(*real)(void *, size_t, int, int, int, off_t);
    if (!real)
        real = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
    return checked_placement(address, real(address, length, protection, flags, fd, offset), length, flags);
}

EXPORT void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset)
{
    static void *(*real)(void *, size_t, int, int, int, off64_t);
    if (!real)
        real = (void *(*)(void *, size_t, int, int, int, off64_t))dlsym(RTLD_NEXT, "mmap64");
    return checked_placement(address, real(address, length, protection, flags, fd, offset), length, flags);
}

EXPORT long syscall(long number, ...)
{
    static long (*real)(long, ...);
    if (!real)
        real = (long (*)(long, ...))dlsym(RTLD_NEXT, "syscall");
    va_list list;
    va_start(list, number);
    long a[6];
    for (int i = 0; i < 6; i++)
        a[i] = va_arg(list, long);
    va_end(list);
    if (number == SYS_set_thread_area && a[0] && ((struct user_desc *)a[0])->entry_number == (unsigned)-1) {
        errno = ESRCH;
        return -1;
    }
    return real(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

/* --- start-up ------------------------------------------------------------------------------------- */

/* Takes this library out of LD_PRELOAD, so that the 64-bit programs that Wine starts (the wineserver)
 * never try to load it; 32-bit ones get it again from the binfmt wrapper. */
static void leave_preload_list(void)
{
    Dl_info self;
    const char *list = getenv("LD_PRELOAD");
    if (!list || !dladdr((void *)leave_preload_list, &self) || !self.dli_fname)
        return;
    size_t own_length = strlen(self.dli_fname);
    char *kept = malloc(strlen(list) + 1);
    if (!kept)
        return;
    kept[0] = '\0';
    const char *entry = list;
    while (*entry) {
        size_t length = strcspn(entry, ": ");
        if (length && !(length == own_length && strncmp(entry, self.dli_fname, length) == 0)) {
            if (kept[0])
                strcat(kept, ":");
            strncat(kept, entry, length);
        }
        entry += length;
        if (*entry)
            entry++;
    }
    if (kept[0])
        setenv("LD_PRELOAD", kept, 1);
    else
        unsetenv("LD_PRELOAD");
    free(kept);
}

__attribute__((constructor)) static void start(void)
{
    gdt_tls_selector = get_gs();
    if (!is_ldt_selector(gdt_tls_selector))
        move_tls_to_ldt();
    leave_preload_list();
}
