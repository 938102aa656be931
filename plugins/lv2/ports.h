// The plugin's ports and variants, shared by the plugin and the program that writes its Turtle
// description, so the indices the code reads and the indices the hosts see are one table.
#ifndef QX_LV2_PORTS_H
#define QX_LV2_PORTS_H

#include <cstdint>

namespace qxlv2 {

constexpr const char *k_uri_base = "urn:playback-profile:eq";

// Control ports: the same index and symbol in every variant; the audio inputs follow them, then
// the outputs.
enum control_port : uint32_t {
    k_port_enable = 0,
    k_port_preset = 1,
    k_port_preamp = 2,
    k_port_gain0 = 3, // g400 .. g9600 at 3 .. 10
    k_control_ports = 11,
};

constexpr float k_default_enable = 1.0f;
constexpr float k_default_preset = 1.0f; // PS_custom: the band ports set the gains
constexpr float k_max_db = 24.0f;        // preamp and band gains lie within -24..+24 dB

struct channel {
    const char *symbol;      // appended to in_ / out_
    const char *name;        // appended to the port names
    const char *designation; // port-groups element
};

struct variant {
    const char *uri;
    const char *fragment; // the URI's fragment, also the stem of its port-group URIs
    const char *name;
    const char *group_class; // null for mono: one port needs no group
    uint32_t channels;
    channel ch[8];
};

// ffmpeg's channel order for each layout (FL FR FC LFE BL BR SL SR).
constexpr variant k_variants[] = {
    {"urn:playback-profile:eq#mono", "mono", "mono", nullptr, 1, {{"", "", "center"}}},
    {"urn:playback-profile:eq#stereo",
     "stereo",
     "stereo",
     "StereoGroup",
     2,
     {{"l", " left", "left"}, {"r", " right", "right"}}},
    {"urn:playback-profile:eq#surround51",
     "surround51",
     "5.1",
     "FivePointOneGroup",
     6,
     {{"l", " left", "left"},
      {"r", " right", "right"},
      {"c", " centre", "center"},
      {"lfe", " LFE", "lowFrequencyEffects"},
      {"rl", " rear left", "rearLeft"},
      {"rr", " rear right", "rearRight"}}},
    {"urn:playback-profile:eq#surround71",
     "surround71",
     "7.1",
     "SevenPointOneGroup",
     8,
     {{"l", " left", "left"},
      {"r", " right", "right"},
      {"c", " centre", "center"},
      {"lfe", " LFE", "lowFrequencyEffects"},
      {"rl", " rear left", "rearLeft"},
      {"rr", " rear right", "rearRight"},
      {"sl", " side left", "sideLeft"},
      {"sr", " side right", "sideRight"}}},
};
constexpr uint32_t k_variant_count = sizeof k_variants / sizeof k_variants[0];

} // namespace qxlv2

#endif // QX_LV2_PORTS_H
