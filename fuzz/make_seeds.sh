#!/usr/bin/env bash
# Writes the binary seeds of the eq, profile_ops and lv2 targets into corpus/ (the json seeds are
# plain files written by hand). Each seed is a short call sequence in the byte layout the target
# decodes; see the decoders in eq_fuzzer.cpp, profile_ops_fuzzer.cpp and lv2_fuzzer.cpp. Run it
# again after changing a decoder, and commit the result.
set -euo pipefail
cd "$(dirname "$0")/corpus"

# hex "05 02 01" -> those bytes; str "text" -> a length byte and the text
hex() {
    local h
    h=$(printf '%s' "$*" | tr -d ' \n')
    printf "$(printf '%s' "$h" | sed 's/../\\x&/g')"
}
str() { hex "$(printf '%02x' "${#1}")"; printf '%s' "$1"; }
repeat() { local n=$1; shift; for ((i = 0; i < n; i++)); do "$@"; done; }

# MARK: eq
# ops: 00 rate, 01 gain, 02 preset, 03 reset, 04 query, 05 f32 block, 06 s16 block, 07 clear log
# block: channels, frames kind (00 small, 01 u16, 02 zero, 03 negative, 04 one), non-null byte,
# fill (00 raw, 01 impulse, 02 sine, 03 steps), amplitude, sine step, then raw data
{
    hex 00 00 06           # 48000 Hz
    hex 02 0c              # PS_rock
    hex 05 02 01 0010 01 01 ff 00   # stereo impulse, 4096 frames
    hex 05 02 01 0010 01 01 00 00   # 4096 silent frames: every band settles to exact zero
    hex 06 02 01 0004 01 02 ff 20   # 16-bit sine continues the same state
} >eq/rock_impulse_then_silence.bin
{
    hex 01 00 00 02        # band 0 at +24 dB
    hex 06 01 01 0004 01 02 ff 10
    hex 06 03 00 04 01 00 00 00  0080 ff7f 0000  0180 fe7f 0100  0080 0080 0080  ff7f ff7f ff7f
    hex 05 01 00 08 01 00 00 00  ffff7f7f ffff7fff 0000803f 000080bf \
        00000000 00000080 01000000 ffff7f00
} >eq/full_scale_and_float_limits.bin
{
    hex 02 0a              # PS_pop
    hex 05 03 00 04 01 00 00 00  0000c07f 0000803f 0000807f  000080ff 0000003f 00000000  \
        01000000 0000c0ff 0000803f  0000003f 0000003f 0000003f
    hex 05 03 00 04 01 00 00 00  0000003f 0000003f 0000003f  0000003f 0000003f 0000003f  \
        0000003f 0000003f 0000003f  0000003f 0000003f 0000003f
} >eq/non_finite_input.bin
{
    hex 05 00 00 05 01 00 00 00     # 0 channels
    hex 05 09 00 05 01 00 00 00     # 9 channels
    hex 05 02 03 00 01              # -1 frames
    hex 05 02 04 00                 # null samples
    hex 06 02 02 01 00 00 00        # 0 frames
    hex 00 02 ffffffff              # rate -1
    hex 00 00 0c                    # rate 384001
    hex 02 11  02 10  02 12         # null, unknown and empty preset names
    hex 01 00 00 0c  01 00 00 0d  01 00 00 0e   # NaN and infinite gains
    hex 01 09 01 10                 # band 9
    hex 04 02 00  04 01 08  04 01 03  04 00 01 05  04 00 01 09  04 00 00 0000000000000080
    hex 02 01  04 00 01 02          # PS_custom: response at 1 kHz
} >eq/invalid_arguments.bin
{
    hex 00 00 00           # 1 Hz: every band centre lies far above half the rate
    hex 01 07 00 02
    hex 05 01 01 00 02 01 02 ff 40
    hex 00 00 01  05 02 01 00 01 01 01 ff 00
    hex 00 01 00f0ffff     # a random valid rate
    hex 01 03 02 000000000000f03f  05 08 01 00 01 01 03 00 00
    hex 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
    hex 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
    hex 7f 80 7f 80 7f 80 7f 80 7f 80 7f 80 7f 80 7f 80
    hex 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10
} >eq/extreme_rates.bin
{
    repeat 66 hex 01 01 00 06        # 66 clamps of 1e308: the log fills at 64
    hex 07  01 02 00 07  03          # clear the full log, clamp once more, reset
} >eq/warning_log_fills.bin

# MARK: profile_ops
# ops: 00/01 create, 02 destroy, 03/04 set, 05 get, 06 field_valid, 07 parsed_uint, 08 validate,
# 09 file_type, 0a args, 0b export, 0c import, 0d field table, 0e clear log, 0f compare all
# id: byte (< c6: id % 66); field: byte (< 11: table index); value: 00 null, 01 "", 02 text,
# 03 library text (id, kind), 04 long run, 05 k_values index
{
    hex 00 02; str Phone
    hex 03 00 01 05 13          # FormatCreator mp4
    hex 03 00 06 05 07          # AudioBitrate 128000
    hex 03 00 08 05 28  03 00 09 05 08  03 00 0a 05 23  03 00 0b 05 24
    hex 03 00 0d 05 25  03 00 0e 05 26  03 00 07 05 27
    hex 0a 00  0b 00  09 00  08 00
    hex 0c 01 00 03             # import the export of profile 0
    hex 0f
} >profile_ops/phone_profile.bin
{
    hex 00 01  02 40  02 c8  03 40 00 01  05 00 13  05 00 12  05 00 14  06 00 15  07 00 06
    hex 06 41 00  07 c9 06  08 40  09 40  0a 40  0b 40  0d 11  0d 10  0d 00
    hex 03 00 12 05 00  03 00 16 05 00  03 00 11 05 00  05 00 11 11
    hex 03 00 02 05 11  03 00 03 05 0d  03 00 07 05 09  03 00 07 05 02  08 00  0f
} >profile_ops/bad_ids_and_fields.bin
{
    hex 00 01
    hex 03 00 00 04 c8 01       # a 99-byte run of a 3-byte character
    hex 03 00 00 04 00 01       # 100 bytes: cut before the last character
    hex 03 00 00 03 00 00 00    # ProfileName from its own text
    hex 03 00 01 03 00 03       # FormatCreator from the export
    hex 03 00 00 03 00 04       # from the last-error text
    hex 03 00 06 02; str fast   # rejected: a warning
    hex 05 00 00  03 00 05 03 00 06   # value from the warning log
    hex 03 00 01 05 20  03 00 01 05 21  0b 00  03 00 00 05 22  0b 00
    hex 08 00  0b 00  02 00
    hex 00 03 00 06             # create named by a text kept from the freed slot
    hex 0c 03 00 06  0f
} >profile_ops/aliasing_and_cuts.bin
{
    repeat 65 hex 00 00
    hex 0c 02; str '{}'
    hex 0c 02; str '[1,2]'
    hex 0c 00
    hex 02 05  00 00  0f
    hex 0c 02; str '{"AudioBitrate":"fast","VideoWidth":1920,"VideoHeight":-1}'
} >profile_ops/full_store.bin
# MARK: lv2
# variant (00 mono, 01 stereo, 02 5.1, 03 7.1), rate index into k_rates; then ops: 00 control
# (port, value index into k_values, or an index past them and four raw bytes), 01 block (frames
# u16, in place, amplitude, sine step), 02 restart
mkdir -p lv2
{
    hex 01 00              # stereo, 48000 Hz
    hex 00 03 05           # g400 +24 dB
    hex 01 0002 00 ff 0a   # 512 frames
    hex 00 01 04           # preset 12 (PS_rock): a fade
    hex 01 0001 01 ff 0a   # 256 frames in place
    hex 00 00 00           # enable off: a fade to the dry signal
    hex 01 0003 00 80 20
    hex 00 00 01           # on again
    hex 01 0002 01 ff 03
    hex 02                 # restart
    hex 01 0001 00 ff 03
} >lv2/stereo_changes_and_restart.bin
{
    hex 03 08              # 7.1 at 384001 Hz: passes through
    hex 00 05 10           # g960 infinite
    hex 01 0004 00 ff 05
    hex 01 0000 00 ff 05   # an empty block
} >lv2/refused_rate.bin
{
    hex 00 03              # mono at 1 Hz: every band off
    hex 00 02 05 00 03 0b 00 01 12   # preamp +24, g400 1e30, preset NaN
    hex 01 e803 00 ff 7f
    hex 00 02 ff 0000c07f  # preamp from raw bits: a NaN
    hex 01 e803 01 ff 7f
} >lv2/wild_controls_low_rate.bin

echo "seeds written under $(pwd)"
