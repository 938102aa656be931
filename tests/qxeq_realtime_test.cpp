// The audio path is real-time safe: the three process calls, the first block after a change
// included (it rebuilds the coefficients), never allocate, free or lock, and make no system
// call. The allocator and the mutex calls are interposed and counted while blocks run; a child
// process then runs the same calls under strict seccomp, where any system call but read, write
// and exit kills it.
#include "qxeq.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define QX_SANITIZED 1
#endif
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_calls{0};
void count() {
    if (g_counting.load(std::memory_order_relaxed))
        g_calls.fetch_add(1);
}
} // namespace

// The sanitizers bring allocators of their own; there the counting stays off (see below).
#ifndef QX_SANITIZED
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);

void *malloc(size_t n) {
    count();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t size) {
    count();
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n) {
    count();
    return __libc_realloc(p, n);
}
void *aligned_alloc(size_t alignment, size_t n) {
    count();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void **out, size_t alignment, size_t n) {
    count();
    *out = __libc_memalign(alignment, n);
    return *out != nullptr ? 0 : ENOMEM;
}
void free(void *p) {
    count();
    __libc_free(p);
}
// libc's own mutex calls, looked up before any test runs
using mutex_call = int (*)(pthread_mutex_t *);
const mutex_call g_lock = reinterpret_cast<mutex_call>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
const mutex_call g_trylock =
    reinterpret_cast<mutex_call>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
int pthread_mutex_lock(pthread_mutex_t *m) {
    count();
    return g_lock(m);
}
int pthread_mutex_trylock(pthread_mutex_t *m) {
    count();
    return g_trylock(m);
}
}
#endif

namespace {

// Settings changes followed by blocks of every format: each first block after a change
// rebuilds the coefficients.
void changes_and_blocks(qxeq_eq *eq, std::vector<float> &f32, std::vector<int16_t> &s16,
                        float *const *planes) {
    const char *presets[] = {"PS_rock", "PS_speech", "PS_custom"};
    for (int round = 0; round < 3; ++round) {
        qxeq_eq_set_preset(eq, presets[round]);
        qxeq_eq_set_gain(eq, static_cast<uint32_t>(round), 5.5 - round);
        qxeq_eq_set_sample_rate(eq, 44100 + 4000 * round);
        qxeq_eq_process_f32(eq, f32.data(), 512, 2);
        qxeq_eq_set_gain(eq, 7, -3.0);
        qxeq_eq_process_s16(eq, s16.data(), 512, 2);
        qxeq_eq_set_gain(eq, 6, 2.0);
        qxeq_eq_process_planar_f32(eq, planes, 512, 2);
        qxeq_set_gain(1, 1.0 + round); // and the default equaliser through the flat calls
        qxeq_process_f32(f32.data(), 512, 2);
    }
}

struct buffers {
    std::vector<float> f32 = std::vector<float>(1024);
    std::vector<int16_t> s16 = std::vector<int16_t>(1024);
    std::vector<float> left = std::vector<float>(512), right = std::vector<float>(512);
    float *planes[2] = {left.data(), right.data()};
    buffers() {
        for (size_t i = 0; i < f32.size(); ++i) {
            f32[i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
            s16[i] = static_cast<int16_t>(i * 37);
        }
        for (size_t i = 0; i < left.size(); ++i)
            left[i] = right[i] = f32[i];
    }
};

// valgrind puts its own allocator and system calls under every program it runs.
bool under_valgrind() {
    const char *preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

TEST(RealTime, ProcessingNeverAllocatesFreesOrLocks) {
    if (under_valgrind())
        GTEST_SKIP() << "valgrind's allocator takes the place of the one counted here";
#ifdef QX_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator cannot be interposed";
#else
    qxeq_eq *eq = qxeq_eq_new();
    ASSERT_NE(eq, nullptr);
    buffers b;
    g_calls = 0;
    g_counting = true;
    changes_and_blocks(eq, b.f32, b.s16, b.planes);
    g_counting = false;
    EXPECT_EQ(g_calls.load(), 0);
    // the counting itself works: an allocation and the log's lock are seen
    g_counting = true;
    qxeq_eq *other = qxeq_eq_new();
    qxeq_eq_set_gain(other, 0, 99.0); // clamped: logs a warning under the log's lock
    qxeq_eq_free(other);
    g_counting = false;
    EXPECT_GE(g_calls.load(), 3);
    qxeq_eq_free(eq);
#endif
}

TEST(RealTime, ProcessingMakesNoSystemCall) {
    if (under_valgrind())
        GTEST_SKIP() << "valgrind makes system calls of its own";
    if (QX_EMULATED)
        GTEST_SKIP() << "the emulator translating this program makes system calls of its own";
#ifdef QX_SANITIZED
    GTEST_SKIP() << "the sanitizer's runtime makes system calls of its own";
#else
    qxeq_eq *eq = qxeq_eq_new();
    ASSERT_NE(eq, nullptr);
    buffers b;
    changes_and_blocks(eq, b.f32, b.s16, b.planes); // every lazy symbol binding done before
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT) != 0)
            syscall(SYS_exit, 2);
        changes_and_blocks(eq, b.f32, b.s16, b.planes);
        const char done = 'y';
        if (write(fds[1], &done, 1) != 1)
            syscall(SYS_exit, 3);
        syscall(SYS_exit, 0); // exit_group is not among the calls strict mode allows
    }
    close(fds[1]);
    char done = 'n';
    const ssize_t got = read(fds[0], &done, 1);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                : "exit " + std::to_string(WEXITSTATUS(status)));
    EXPECT_EQ(got, 1);
    EXPECT_EQ(done, 'y');
    qxeq_eq_free(eq);
#endif
}

} // namespace
