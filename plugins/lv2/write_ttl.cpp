// Writes the bundle's manifest, plugin description (eq.ttl) and presets (presets.ttl) into a
// folder at build time, from the port table and the library itself, so the band symbols, the preset
// names, their indices and their gains hosts read are exactly the ones the plugin applies.
#include "ports.h"

#include "qxeq.h"

#include <cstdio>
#include <string>

using namespace qxlv2;

namespace {

constexpr const char *k_prefixes = "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
                                   "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
                                   "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
                                   "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
                                   "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                                   "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                                   "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                                   "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

constexpr const char *k_project = "urn:playback-profile:project";
constexpr const char *k_licence = "http://opensource.org/licenses/MIT";

std::string group_uri(const variant &v, const char *dir) {
    return std::string(k_uri_base) + "#" + v.fragment + "_" + dir;
}

void write_db_port(FILE *f, uint32_t index, const std::string &symbol, const std::string &name) {
    std::fprintf(f,
                 "    ] , [\n"
                 "        a lv2:InputPort , lv2:ControlPort ;\n"
                 "        lv2:index %u ;\n"
                 "        lv2:symbol \"%s\" ;\n"
                 "        lv2:name \"%s\" ;\n"
                 "        lv2:default 0.0 ;\n"
                 "        lv2:minimum %.1f ;\n"
                 "        lv2:maximum %.1f ;\n"
                 "        units:unit units:db\n",
                 index, symbol.c_str(), name.c_str(), -k_max_db, k_max_db);
}

void write_controls(FILE *f) {
    std::fprintf(f,
                 "    lv2:port [\n"
                 "        a lv2:InputPort , lv2:ControlPort ;\n"
                 "        lv2:index %u ;\n"
                 "        lv2:symbol \"enable\" ;\n"
                 "        lv2:name \"Enable\" ;\n"
                 "        lv2:designation lv2:enabled ;\n"
                 "        lv2:portProperty lv2:integer ;\n"
                 "        lv2:default 1 ;\n"
                 "        lv2:minimum 0 ;\n"
                 "        lv2:maximum 1\n"
                 "    ] , [\n"
                 "        a lv2:InputPort , lv2:ControlPort ;\n"
                 "        lv2:index %u ;\n"
                 "        lv2:symbol \"preset\" ;\n"
                 "        lv2:name \"Preset\" ;\n"
                 "        lv2:portProperty lv2:integer , lv2:enumeration ;\n"
                 "        lv2:default 1 ;\n"
                 "        lv2:minimum 0 ;\n"
                 "        lv2:maximum %d ;\n"
                 "        lv2:scalePoint",
                 k_port_enable, k_port_preset, qxeq_preset_count() - 1);
    for (int32_t p = 0; p < qxeq_preset_count(); ++p)
        std::fprintf(f, "%s [ rdfs:label \"%s\" ; rdf:value %d ]", p == 0 ? "" : " ,\n           ",
                     qxeq_preset_name(static_cast<uint32_t>(p)), p);
    std::fprintf(f, "\n");
    write_db_port(f, k_port_preamp, "preamp", "Preamp");
    for (int32_t b = 0; b < qxeq_band_count(); ++b) {
        const int hz = static_cast<int>(qxeq_band_center_hz(static_cast<uint32_t>(b)));
        write_db_port(f, k_port_gain0 + static_cast<uint32_t>(b), "g" + std::to_string(hz),
                      std::to_string(hz) + " Hz");
    }
}

void write_audio(FILE *f, const variant &v) {
    for (int out = 0; out < 2; ++out)
        for (uint32_t c = 0; c < v.channels; ++c) {
            const channel &ch = v.ch[c];
            const char *dir = out ? "out" : "in";
            std::string symbol = std::string(dir) + (*ch.symbol ? "_" : "") + ch.symbol;
            std::fprintf(f,
                         "    ] , [\n"
                         "        a lv2:AudioPort , %s ;\n"
                         "        lv2:index %u ;\n"
                         "        lv2:symbol \"%s\" ;\n"
                         "        lv2:name \"%s%s\"",
                         out ? "lv2:OutputPort" : "lv2:InputPort",
                         k_control_ports + static_cast<uint32_t>(out) * v.channels + c,
                         symbol.c_str(), out ? "Output" : "Input", ch.name);
            if (v.group_class)
                std::fprintf(f, " ;\n        pg:group <%s> ;\n        lv2:designation pg:%s",
                             group_uri(v, dir).c_str(), ch.designation);
            std::fprintf(f, "\n");
        }
    std::fprintf(f, "    ] .\n\n");
}

void write_plugin(FILE *f, const variant &v) {
    const std::string uri = std::string(v.uri);
    if (v.group_class) {
        std::fprintf(f,
                     "<%s>\n    a pg:%s , pg:InputGroup ;\n    lv2:symbol \"%s_in\" ;\n"
                     "    rdfs:label \"Input\" .\n\n",
                     group_uri(v, "in").c_str(), v.group_class, v.fragment);
        std::fprintf(f,
                     "<%s>\n    a pg:%s , pg:OutputGroup ;\n    lv2:symbol \"%s_out\" ;\n"
                     "    rdfs:label \"Output\" ;\n    pg:source <%s> .\n\n",
                     group_uri(v, "out").c_str(), v.group_class, v.fragment,
                     group_uri(v, "in").c_str());
    }
    std::fprintf(f,
                 "<%s>\n"
                 "    a lv2:Plugin , lv2:MultiEQPlugin ;\n"
                 "    lv2:project <%s> ;\n"
                 "    doap:name \"playback-profile equaliser (%s)\" ;\n"
                 "    doap:license <%s> ;\n"
                 "    rdfs:comment \"Eight-band graphic equaliser (400 Hz to 9.6 kHz, Q 0.8) with "
                 "sixteen presets and a preamp.\" ;\n"
                 "    lv2:minorVersion 2 ;\n"
                 "    lv2:microVersion 0 ;\n"
                 "    lv2:optionalFeature lv2:hardRTCapable ;\n",
                 uri.c_str(), k_project, v.name, k_licence);
    if (v.group_class)
        std::fprintf(f, "    pg:mainInput <%s> ;\n    pg:mainOutput <%s> ;\n",
                     group_uri(v, "in").c_str(), group_uri(v, "out").c_str());
    write_controls(f);
    write_audio(f, v);
}

void write_plugins(FILE *f) {
    std::fprintf(f, "%s", k_prefixes);
    std::fprintf(f,
                 "<%s>\n    a doap:Project ;\n    doap:name \"playback-profile\" ;\n"
                 "    doap:license <%s> ;\n"
                 "    doap:maintainer [ foaf:name \"playback-profile developers\" ] .\n\n",
                 k_project, k_licence);
    for (const variant &v : k_variants)
        write_plugin(f, v);
}

// Each preset sets the preset port and shows its gains on the band ports, so a host's preset
// menu and its sliders agree; under any preset but PS_custom the plugin ignores the sliders.
void write_presets(FILE *f) {
    std::fprintf(f, "%s", k_prefixes);
    for (int32_t p = 0; p < qxeq_preset_count(); ++p) {
        const char *name = qxeq_preset_name(static_cast<uint32_t>(p));
        std::fprintf(f, "<%s:preset#%s>\n    a pset:Preset ;\n    lv2:appliesTo", k_uri_base, name);
        for (uint32_t i = 0; i < k_variant_count; ++i)
            std::fprintf(f, "%s <%s>", i ? " ," : "", k_variants[i].uri);
        std::fprintf(f,
                     " ;\n    rdfs:label \"%s\" ;\n"
                     "    lv2:port [ lv2:symbol \"enable\" ; pset:value 1 ] ,\n"
                     "        [ lv2:symbol \"preset\" ; pset:value %d ] ,\n"
                     "        [ lv2:symbol \"preamp\" ; pset:value 0.0 ]",
                     name, p);
        for (int32_t b = 0; b < qxeq_band_count(); ++b)
            std::fprintf(f, " ,\n        [ lv2:symbol \"g%d\" ; pset:value %.9g ]",
                         static_cast<int>(qxeq_band_center_hz(static_cast<uint32_t>(b))),
                         qxeq_preset_gain(static_cast<uint32_t>(p), static_cast<uint32_t>(b)));
        std::fprintf(f, " .\n\n");
    }
}

std::string g_binary; // the module's file name, from the command line

// The manifest names the presets too, so hosts list them without loading eq.ttl.
void write_manifest(FILE *f) {
    std::fprintf(f, "%s", k_prefixes);
    for (const variant &v : k_variants)
        std::fprintf(f,
                     "<%s>\n    a lv2:Plugin ;\n    lv2:binary <%s> ;\n"
                     "    rdfs:seeAlso <eq.ttl> .\n\n",
                     v.uri, g_binary.c_str());
    for (int32_t p = 0; p < qxeq_preset_count(); ++p) {
        std::fprintf(f, "<%s:preset#%s>\n    a pset:Preset ;\n    lv2:appliesTo", k_uri_base,
                     qxeq_preset_name(static_cast<uint32_t>(p)));
        for (uint32_t i = 0; i < k_variant_count; ++i)
            std::fprintf(f, "%s <%s>", i ? " ," : "", k_variants[i].uri);
        std::fprintf(f, " ;\n    rdfs:seeAlso <presets.ttl> .\n\n");
    }
}

bool write_file(const std::string &path, void (*write)(FILE *)) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    write(f);
    const bool ok = std::ferror(f) == 0;
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BUNDLE-DIR MODULE-FILE-NAME\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    g_binary = argv[2];
    return write_file(dir + "/manifest.ttl", write_manifest) &&
                   write_file(dir + "/eq.ttl", write_plugins) &&
                   write_file(dir + "/presets.ttl", write_presets)
               ? 0
               : 1;
}
