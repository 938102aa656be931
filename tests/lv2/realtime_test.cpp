// run() is real-time safe: this program replaces malloc, calloc, realloc, free and
// pthread_mutex_lock for the whole process (the plugin's calls reach them first), counts the
// calls made while the plugin runs, and drives it through every kind of control change, host
// value and block size. Not built with sanitizers (they replace the allocator themselves);
// skipped under valgrind, which does the same.
#include "reference.h"

#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <dlfcn.h>
#include <pthread.h>
#include <valgrind/valgrind.h>

#include <cstddef>
#include <limits>
#include <vector>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {

thread_local bool g_counting = false;
thread_local int g_calls = 0;

using lock_fn = int (*)(pthread_mutex_t *);
lock_fn real_lock() {
    static lock_fn f = reinterpret_cast<lock_fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return f;
}

void note() {
    if (g_counting)
        ++g_calls;
}

} // namespace

extern "C" {
void *malloc(size_t n) {
    note();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t size) {
    note();
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n) {
    note();
    return __libc_realloc(p, n);
}
void free(void *p) {
    note();
    __libc_free(p);
}
int pthread_mutex_lock(pthread_mutex_t *m) {
    note();
    return real_lock()(m);
}
}

namespace {

TEST(Run, NeverAllocatesNorLocks) {
    if (RUNNING_ON_VALGRIND)
        GTEST_SKIP() << "valgrind replaces the allocator";
    ASSERT_NE(real_lock(), nullptr);
    void *module = dlopen(QX_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto *entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor"));
    ASSERT_NE(entry, nullptr);
    for (uint32_t index : {1u, 3u}) { // stereo, 7.1
        SCOPED_TRACE(index);
        const LV2_Descriptor *d = entry(index);
        const LV2_Feature *const none[] = {nullptr};
        LV2_Handle h = d->instantiate(d, 48000.0, "/nowhere/", none);
        ASSERT_NE(h, nullptr);
        const size_t channels = index == 1 ? 2 : 8, frames = 20000;
        lv2test::planes x = lv2test::make_signal(frames, channels, 48000.0, 0.5), y = x;
        float controls[11] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        for (uint32_t p = 0; p < 11; ++p)
            d->connect_port(h, p, &controls[p]);
        for (uint32_t c = 0; c < channels; ++c) {
            d->connect_port(h, 11 + c, x[c].data());
            d->connect_port(h, 11 + static_cast<uint32_t>(channels) + c, y[c].data());
        }
        d->activate(h);
        const float inf = std::numeric_limits<float>::infinity();
        // each step: a control to change, its value, and the block size to run after it
        struct {
            uint32_t port;
            float value;
            uint32_t frames;
        } const steps[] = {
            {3, 6.0f, 512},     {3, -6.0f, 0},  {3, 1e30f, 1},   {4, inf, 20000},
            {1, 12.0f, 100},    {1, 3.0f, 333}, {0, 0.0f, 4096}, {0, 1.0f, 1},
            {2, -12.0f, 20000}, {1, 0.0f, 700}, {1, 99.0f, 700}, {2, 1e9f, 64},
        };
        g_calls = 0;
        g_counting = true;
        d->run(h, 256); // the first run applies the controls
        for (const auto &s : steps) {
            controls[s.port] = s.value;
            d->run(h, s.frames);
        }
        g_counting = false;
        EXPECT_EQ(g_calls, 0);
        if (d->deactivate)
            d->deactivate(h);
        d->cleanup(h);
    }
}

} // namespace
