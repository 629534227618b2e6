/* Test-harness-only LD_PRELOAD shim for the i386 Wine loader when it runs through
 * qemu-user 7.2 (never part of the product). qemu keeps ONE emulated GDT for all
 * guest threads, so a set_thread_area() TLS slot (glibc's %gs = 0x33, Wine's %fs
 * TEB selector) holds the base of whichever thread wrote it last. Wine reloads
 * %fs/%gs from those selectors in its signal handlers and on full context
 * restores, and then runs on another thread's TEB / glibc thread block.
 *   1. At load, occupy the free GDT TLS slots: Wine's set_thread_area(-1) then
 *      fails and Wine gives every thread its own LDT selector for its TEB.
 *   2. glibc's slot (0x33) is left to the main thread for good: pthread_create
 *      runs with %gs on one of our slots (glibc derives the child's TLS slot
 *      from the parent's %gs), and each new thread first moves its %gs to a
 *      private LDT selector (LDT entries from the top, Wine allocates from 32 up).
 * Freestanding (no libc headers), raw int $0x80 syscalls:
 *   gcc -m32 -O2 -fPIC -shared -nostdlib -ffreestanding -fno-stack-protector */
typedef unsigned int u32;
struct user_desc { u32 entry_number, base_addr, limit, flags; };
enum { F_32 = 1, F_PAGES = 1 << 4, F_USEABLE = 1 << 6 };
enum { NR_write = 4, NR_modify_ldt = 123, NR_sched_yield = 158, NR_set_thread_area = 243 };
enum { LDT_TOP = 8191, LDT_BOTTOM = 4096 };

static long sys3(long nr, long a, long b, long c)
{
    long r;
    __asm__ volatile ("pushl %%ebx\n\tmovl %2,%%ebx\n\tint $0x80\n\tpopl %%ebx"
                      : "=a"(r) : "0"(nr), "r"(a), "c"(b), "d"(c) : "memory");
    return r;
}
static void say(const char *s) { int n = 0; while (s[n]) n++; sys3(NR_write, 2, (long)s, n); }

extern void *dlsym(void *, const char *);
extern void *malloc(unsigned);
extern void free(void *);
#define RTLD_NEXT ((void *)-1l)

static volatile int next_ldt = LDT_TOP, create_lock;
static int clone_slot = -1, ldt_ready;

static int write_ldt(int idx, u32 base)
{
    struct user_desc d = { (u32)idx, base, 0xfffff, F_32 | F_PAGES | F_USEABLE };
    return (int)sys3(NR_modify_ldt, 0x11, (long)&d, sizeof d);
}

struct start { void *(*fn)(void *); void *arg; };
static void *trampoline(void *p)
{
    struct start s = *(struct start *)p;
    free(p);
    int idx = __sync_fetch_and_sub(&next_ldt, 1);
    u32 tcb;
    __asm__ volatile ("movl %%gs:0,%0" : "=r"(tcb));
    if (idx >= LDT_BOTTOM && write_ldt(idx, tcb) == 0)
    {
        unsigned short sel = (unsigned short)((idx << 3) | 7);
        __asm__ volatile ("movw %0,%%gs" : : "r"(sel) : "memory");
    }
    else say("qemu_tls_shim: thread keeps a shared TLS selector\n");
    return s.fn(s.arg);
}

typedef int (*create_fn)(void *, const void *, void *(*)(void *), void *);
int pthread_create(void *th, const void *attr, void *(*fn)(void *), void *arg)
{
    static create_fn real;
    if (!real) real = (create_fn)dlsym(RTLD_NEXT, "pthread_create");
    struct start *s;
    if (clone_slot < 0 || !(s = malloc(sizeof *s))) return real(th, attr, fn, arg);
    s->fn = fn; s->arg = arg;
    while (__sync_lock_test_and_set(&create_lock, 1)) sys3(NR_sched_yield, 0, 0, 0);
    /* qemu creates its LDT table for the calling thread only (later threads copy
     * it): make sure it exists before the first other thread. */
    if (!ldt_ready) { write_ldt(LDT_TOP, 0); next_ldt = LDT_TOP - 1; ldt_ready = 1; }
    u32 tcb; unsigned short mine, tmp = (unsigned short)((clone_slot << 3) | 3);
    __asm__ volatile ("movl %%gs:0,%0\n\tmovw %%gs,%1" : "=r"(tcb), "=r"(mine));
    struct user_desc d = { (u32)clone_slot, tcb, 0xfffff, F_32 | F_PAGES | F_USEABLE };
    int switched = sys3(NR_set_thread_area, (long)&d, 0, 0) == 0;
    if (switched) __asm__ volatile ("movw %0,%%gs" : : "r"(tmp) : "memory");
    int r = real(th, attr, trampoline, s);
    if (switched) __asm__ volatile ("movw %0,%%gs" : : "r"(mine) : "memory");
    __sync_lock_release(&create_lock);
    if (r) free(s);
    return r;
}

__attribute__((constructor)) static void init(void)
{
    for (int i = 0; i < 3; i++)
    {
        struct user_desc d = { (u32)-1, 0, 0, F_32 | F_USEABLE };
        if (sys3(NR_set_thread_area, (long)&d, 0, 0) != 0) break;
        clone_slot = (int)d.entry_number;
    }
    if (clone_slot < 0) say("qemu_tls_shim: no free GDT TLS slot, shim inactive\n");
}
