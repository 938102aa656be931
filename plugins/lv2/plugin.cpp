// The LV2 entry points: one descriptor per variant (mono, stereo, 5.1, 7.1), each instance an
// engine with its ports. The only symbol the module exports is lv2_descriptor. Calls on one
// instance must not overlap, as LV2's threading classes already require; instances are
// independent of each other.
#include "engine.h"
#include "ports.h"

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace qxlv2;

namespace {

struct instance {
    engine *eq;
    uint32_t channels;
    const float *controls[k_control_ports];
    const float *in[8];
    float *out[8];
};

// The log feature is optional: without it (ffmpeg, lv2apply offer none) the message goes to
// standard error, once, at instantiation.
void log_bad_rate(const LV2_Feature *const *features, double rate) {
    const LV2_Log_Log *log = nullptr;
    const LV2_URID_Map *map = nullptr;
    for (size_t i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_LOG__log) == 0)
            log = static_cast<const LV2_Log_Log *>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map *>(features[i]->data);
    }
    const char *fmt = "playback-profile-eq: sample rate %g Hz is outside 1..384000 Hz; audio "
                      "passes through unchanged\n";
    if (log != nullptr && map != nullptr)
        log->printf(log->handle, map->map(map->handle, LV2_LOG__Error), fmt, rate);
    else
        std::fprintf(stderr, fmt, rate);
}

template <uint32_t Variant>
LV2_Handle instantiate(const LV2_Descriptor *, double rate, const char *,
                       const LV2_Feature *const *features) {
    auto *self = static_cast<instance *>(std::calloc(1, sizeof(instance)));
    if (self == nullptr)
        return nullptr;
    self->channels = k_variants[Variant].channels;
    bool rate_ok = false;
    self->eq = engine_new(self->channels, rate, &rate_ok);
    if (self->eq == nullptr) {
        std::free(self);
        return nullptr;
    }
    if (!rate_ok)
        log_bad_rate(features, rate);
    return self;
}

void connect_port(LV2_Handle handle, uint32_t port, void *data) {
    auto *self = static_cast<instance *>(handle);
    if (port < k_control_ports) {
        self->controls[port] = static_cast<const float *>(data);
        return;
    }
    port -= k_control_ports;
    if (port < self->channels)
        self->in[port] = static_cast<const float *>(data);
    else if (port < 2 * self->channels)
        self->out[port - self->channels] = static_cast<float *>(data);
}

void activate(LV2_Handle handle) { engine_reset(static_cast<instance *>(handle)->eq); }

void run(LV2_Handle handle, uint32_t frames) {
    auto *self = static_cast<instance *>(handle);
    for (uint32_t c = 0; c < self->channels; ++c)
        if (self->in[c] == nullptr || self->out[c] == nullptr)
            return; // a host fault
    engine_run(self->eq, self->controls, self->in, self->out, frames);
}

void cleanup(LV2_Handle handle) {
    auto *self = static_cast<instance *>(handle);
    engine_free(self->eq);
    std::free(self);
}

const void *extension_data(const char *) { return nullptr; }

template <uint32_t Variant> constexpr LV2_Descriptor descriptor() {
    return {k_variants[Variant].uri,
            instantiate<Variant>,
            connect_port,
            activate,
            run,
            nullptr,
            cleanup,
            extension_data};
}

const LV2_Descriptor g_descriptors[] = {descriptor<0>(), descriptor<1>(), descriptor<2>(),
                                        descriptor<3>()};
static_assert(sizeof g_descriptors / sizeof g_descriptors[0] == k_variant_count,
              "one descriptor per variant");

} // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor *lv2_descriptor(uint32_t index) {
    if (index >= k_variant_count)
        return nullptr;
    return &g_descriptors[index];
}
