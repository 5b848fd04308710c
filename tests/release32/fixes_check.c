/*
 * Checks, from inside a 32-bit Linux program run through the kovrel-i386 binfmt entry, that it sees a 32-bit
 * kernel's behaviour where 32-bit Wine depends on it (see tests/support/i386/wine32_fixes.c). One line per
 * check: "ok NAME" or "fail NAME: what was seen".
 */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <errno.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

static void report(const char *name, int passed, const char *detail)
{
    if (passed)
        printf("ok %s\n", name);
    else
        printf("fail %s: %s\n", name, detail);
    fflush(stdout);
}

static void check_noreplace(void)
{
    char detail[128];
    void *taken = mmap(0, 65536, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    errno = 0;
    void *again = mmap(taken, 65536, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    snprintf(detail, sizeof detail, "wanted %p, got %p, errno %d", taken, again, errno);
    report("fixed_noreplace_on_a_taken_range_fails_with_eexist", again == MAP_FAILED && errno == EEXIST, detail);

    munmap(taken, 65536);
    void *free_again = mmap(taken, 65536, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    snprintf(detail, sizeof detail, "wanted %p, got %p", taken, free_again);
    report("fixed_noreplace_on_a_free_range_maps_there", free_again == taken, detail);
}

static void check_tls_allocation(void)
{
    struct user_desc descriptor;
    memset(&descriptor, 0, sizeof descriptor);
    descriptor.entry_number = (unsigned)-1;
    descriptor.seg_32bit = 1;
    descriptor.useable = 1;
    long result = syscall(SYS_set_thread_area, &descriptor);
    char detail[64];
    snprintf(detail, sizeof detail, "result %ld, entry %d", result, (int)descriptor.entry_number);
    report("new_gdt_tls_entry_is_refused", result == -1, detail);
}

/* glibc finds the thread's own TCB through %gs. Wine's signal handlers reload %gs from its selector, as
 * this one does; the descriptor must still hold this thread's base, not that of a thread created since. */
static pthread_barrier_t started;
static volatile sig_atomic_t handled;

static void count_signal(int signal)
{
    (void)signal;
    __asm__ volatile("movw %%gs, %%ax\n\tmovw %%ax, %%gs" : : : "eax", "memory");
    handled++;
}

static unsigned long own_tcb(void)
{
    unsigned long tcb;
    __asm__ volatile("movl %%gs:0, %0" : "=r"(tcb));
    return tcb;
}

static void *later_thread(void *argument)
{
    (void)argument;
    pthread_barrier_wait(&started);
    pthread_barrier_wait(&started);
    return 0;
}

static void check_tls_after_signals(void)
{
    unsigned short selector;
    __asm__ volatile("movw %%gs, %0" : "=r"(selector));
    report("tls_selector_is_in_the_ldt", (selector & 4) != 0, "a GDT selector");

    unsigned long before = own_tcb();
    pthread_t other;
    signal(SIGUSR1, count_signal);
    pthread_barrier_init(&started, 0, 2);
    pthread_create(&other, 0, later_thread, 0);
    pthread_barrier_wait(&started);
    for (int i = 0; i < 20; i++)
        pthread_kill(pthread_self(), SIGUSR1);
    unsigned long after = own_tcb();
    pthread_barrier_wait(&started);
    pthread_join(other, 0);
    char detail[96];
    snprintf(detail, sizeof detail, "%d signals, then TCB %#lx instead of %#lx", (int)handled, after, before);
    report("own_tls_after_signals_while_a_newer_thread_runs", after == before && handled == 20, detail);
}

static sigjmp_buf resume;
static volatile int fault_trap;
static void *volatile fault_address;
static volatile unsigned long fault_cr2;

static void note_fault(int signal, siginfo_t *info, void *context)
{
    (void)signal;
    ucontext_t *interrupted = context;
    fault_trap = interrupted->uc_mcontext.gregs[REG_TRAPNO];
    fault_cr2 = interrupted->uc_mcontext.cr2;
    fault_address = info->si_addr;
    siglongjmp(resume, 1);
}

static void check_page_fault(void)
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = note_fault;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, 0);
    volatile int *unmapped = (volatile int *)0x10;
    if (!sigsetjmp(resume, 1))
        (void)*unmapped;
    char detail[96];
    snprintf(detail, sizeof detail, "trap %d, si_addr %p, cr2 %#lx", fault_trap, fault_address, fault_cr2);
    report("page_fault_has_trap_14_and_its_address",
           fault_trap == 14 && fault_address == (void *)unmapped && fault_cr2 == 0x10, detail);
}

int main(void)
{
    check_noreplace();
    check_tls_allocation();
    check_tls_after_signals();
    check_page_fault();
    return 0;
}
