/* playback-profile: the transcode-profile store.
 *
 * Up to 64 profiles in process-wide slots, each a fixed set of seventeen text fields (at most
 * 127 bytes each) with a type their text is checked against: "string", "int", "bool" or
 * "uint_string". Profiles are written to and read from JSON text and turned into a fragment of
 * an ffmpeg command line with an output file extension. Texts are cut to their buffers at a
 * byte bound that never splits a UTF-8 character. Calls must not overlap: the library takes no
 * locks.
 *
 * FormatCreator is used as an output format only when it is a plain token of ASCII letters,
 * digits and '_'; any other non-empty creator gives no format clause and an empty file type.
 * The creators "mkv", "ts", "m4a", "mpg" and "wmv" select their muxers "matroska", "mpegts",
 * "ipod", "mpeg" and "asf" in the argument fragment; their file type stays "." + creator.
 *
 * Last error: each function says whether it empties the profile store's last-error text on
 * success, sets it only on failure, or never touches it. The equaliser's text is separate.
 */
#ifndef QXTP_H
#define QXTP_H

#include "qx_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* MARK: field table */

/** @return 17, the number of fields. Last error: untouched. */
QX_API int32_t qxtp_profile_field_count(void);

/** @param index field index 0..16, in table order ("ProfileName", "FormatCreator", ...).
 * @return the constant field name, or null for any other index. Last error: untouched. */
QX_API const char *qxtp_profile_field_name(uint32_t index);

/** @param index field index 0..16.
 * @return "string", "int", "bool" or "uint_string", or null for any other index.
 * Last error: untouched. */
QX_API const char *qxtp_profile_field_type(uint32_t index);

/* MARK: store */

/** Create a profile in the lowest free slot, with defaults: FormatQuality "0", the three bool
 * fields "false", every other field empty, every field valid.
 * @param name ProfileName (cut to 127 bytes), or null or empty for none.
 * @return the new id 0..63, or -QX_ERR_OOM when all 64 slots are in use.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxtp_profile_create(const char *name);

/** Free a profile's slot. @param id profile id.
 * @return QX_OK or QX_ERR_NO_SUCH_PROFILE (id outside 0..63 or not in use).
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxtp_profile_destroy(int32_t id);

/** Set a field's text (cut to 127 bytes) and recompute its validity. The text is stored even
 * when it fails its type's rule.
 * @param id    profile id.
 * @param field field name, exact and case-sensitive.
 * @param value new text; null empties the field. May point into the library's own storage.
 * @return QX_OK; QX_ERR_NO_SUCH_PROFILE; QX_ERR_UNKNOWN_FIELD; or QX_ERR_FIELD_INVALID for a
 *         rejected "uint_string" text, which also logs "ERR_FIELD_INVALID:<field>" as a
 *         warning. A rejected "int" or "bool" text returns QX_OK with its validity flag 0.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxtp_profile_set(int32_t id, const char *field, const char *value);

/** @return the field's text, or null with "ERR_NO_SUCH_PROFILE" or "ERR_UNKNOWN_FIELD".
 * Library storage: never free it; later calls overwrite it. Last error: set only on failure. */
QX_API const char *qxtp_profile_get(int32_t id, const char *field);

/** @return the field's stored validity flag (1 valid, 0 invalid), or 0 with
 *         "ERR_NO_SUCH_PROFILE" or "ERR_UNKNOWN_FIELD". Last error: set only on failure. */
QX_API int32_t qxtp_profile_field_valid(int32_t id, const char *field);

/** @return the output file extension derived from FormatCreator: ".mp4" for "hevc"; "." +
 *         creator, cut to 15 bytes, for a creator of ASCII letters, digits and '_'; "" for an
 *         empty or any other creator. Null with "ERR_NO_SUCH_PROFILE".
 * Library storage: never free it. Last error: set only on failure. */
QX_API const char *qxtp_profile_file_type(int32_t id);

/** @return the value of a "uint_string" field (saturated at 4294967295), or 0 for an unknown
 *         id or field, another type, or an empty or unacceptable text.
 * Last error: untouched. */
QX_API uint32_t qxtp_profile_parsed_uint(int32_t id, const char *field);

/** Recompute every field's validity and log "ERR_FIELD_INVALID:<field>" for each invalid one.
 * @return QX_OK, QX_ERR_NO_SUCH_PROFILE, or QX_ERR_FIELD_INVALID (last error names the first
 *         invalid field). Last error: emptied on success, set on failure. */
QX_API int32_t qxtp_profile_validate(int32_t id);

/* MARK: encoder arguments */

/** ffmpeg options for the profile, each followed by one space. First a clause from
 * FormatCreator: a codec for "hevc", "mp4", "h264", "mp3" and "aac"; "-f <creator> " for any
 * other plain token, with the muxer names listed atop this header for "mkv", "ts", "m4a", "mpg"
 * and "wmv"; none for an empty or any other creator. Then "-b:a", "-ac", "-ar",
 * "-sample_fmt s<n>", "-b:v", "-s WxH" and "-r N/D" for the fields that hold non-zero numbers.
 * @return the argument text, or null with "ERR_NO_SUCH_PROFILE". Library storage: never free
 *         it; later calls overwrite it. Last error: emptied on success, set on failure. */
QX_API const char *qxtp_profile_to_ffmpeg_args(int32_t id);

/* MARK: JSON */

/** Compact JSON object of the seventeen fields in table order, then "FileType".
 * @return the JSON text, or null with "ERR_NO_SUCH_PROFILE", or with "ERR_OOM" when the
 *         document cannot be built or a text is not well-formed UTF-8. Library storage: never
 *         free it; later calls overwrite it. Last error: emptied on success, set on failure. */
QX_API const char *qxtp_profile_to_json(int32_t id);

/** Create a profile from strict JSON (RFC 8259, UTF-8, no byte-order mark) whose root is an
 * object. For each field the first member with its name decides: strings (up to a first
 * NUL), booleans and integers are stored through qxtp_profile_set; reals, null, arrays and
 * objects leave the default. Other members, "FileType" included, are ignored.
 * @param json NUL-terminated text; may be a text the library returned.
 * @return the new id 0..63; -QX_ERR_INVALID_ARG for null, unreadable JSON or a root that is not
 *         an object; -QX_ERR_OOM when no slot is free. A failed import leaves no profile.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxtp_profile_from_json(const char *json);

/** @return the profile store's last-error text, or "OK" when it is empty. Library storage:
 *         never free it; later calls overwrite it. */
QX_API const char *qxtp_last_error(void);

#ifdef __cplusplus
}
#endif

#endif /* QXTP_H */
