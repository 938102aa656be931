// The eq command's choices about files: which container and encoding the output gets (from
// --type, the output's extension through libsndfile's format table, or the input's format),
// the encoder settings of lossy outputs, and what an input's header promises.
#ifndef QX_TOOLS_AUDIO_FORMAT_H
#define QX_TOOLS_AUDIO_FORMAT_H

#include <sndfile.h>

#include <string>

namespace cli {

// The libsndfile format (container | encoding) for the output. type is --type's value (an
// extension such as "flac", empty for none); without it the output's extension decides, and
// without a known extension the input's format. A type, or the extension of an audio format,
// that libsndfile cannot write is refused with the list of those it can. FLAC keeps the
// input's bit depth.
int choose_output_format(const std::string &out_path, const std::string &type, const SF_INFO &in);

// A short name of a format for messages: "FLAC (16 bit)".
std::string format_name(int format);

// Vorbis, Opus and MPEG: encoders that --quality and --bitrate-mode set.
bool is_lossy(int format);

// Float encodings: anything else is an integer or lossy encoder that needs finite samples.
bool is_float(int format);

// The number of frames the header of a WAV or AIFF file (read through fd without moving its
// offset) says its data holds, or -1 when that is unknown: other formats, streamed headers.
sf_count_t promised_frames(int fd);

} // namespace cli

#endif // QX_TOOLS_AUDIO_FORMAT_H
