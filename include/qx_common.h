/* playback-profile: version, status codes, export macro and the shared warning log.
 *
 * The warning log is process-wide: 64 entries of at most 191 bytes each, kept in the order they
 * were added. The equaliser adds one when it clamps a gain; the profile store adds one for each
 * field it rejects. Nothing inside the library empties the log; only the host does. Its calls
 * are safe from any thread (one short lock, never taken by audio processing); a text read with
 * qx_warning may be overwritten once another thread clears and refills the log.
 */
#ifndef QX_COMMON_H
#define QX_COMMON_H

#include <stdint.h>

#if defined(QX_BUILDING) && (defined(__GNUC__) || defined(__clang__))
#define QX_API __attribute__((visibility("default")))
#else
#define QX_API
#endif

/* The library's version; the build takes its project version from these lines. */
#define QX_VERSION_MAJOR 0
#define QX_VERSION_MINOR 2
#define QX_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/** Status codes shared by the equaliser (qxeq_) and the profile store (qxtp_). Functions that
 * return a profile id return the negated code on failure. */
typedef enum qx_status {
    QX_OK = 0,                  /* success; the module's last error reads "OK" */
    QX_ERR_NO_SUCH_PRESET = 1,  /* "ERR_NO_SUCH_PRESET" */
    QX_ERR_NO_SUCH_BAND = 2,    /* "ERR_NO_SUCH_BAND" */
    QX_ERR_NO_SUCH_PROFILE = 3, /* "ERR_NO_SUCH_PROFILE" */
    QX_ERR_FIELD_INVALID = 4,   /* "ERR_FIELD_INVALID:" followed by the field name */
    QX_ERR_UNKNOWN_FIELD = 5,   /* "ERR_UNKNOWN_FIELD" */
    QX_ERR_BAD_SAMPLE_RATE = 6, /* "ERR_BAD_SAMPLE_RATE" */
    QX_ERR_INVALID_ARG = 7,     /* "ERR_INVALID_ARG" */
    QX_ERR_OOM = 8              /* "ERR_OOM" */
} qx_status;

/** @param status a status code (a function that returns a profile id returns its negation).
 * @return the text a last error reads for that code: "OK" for QX_OK, "ERR_NO_SUCH_PRESET" ...
 *         "ERR_OOM", "ERR_FIELD_INVALID" for QX_ERR_FIELD_INVALID (whose last error adds ':'
 *         and the field name), and "ERR_UNKNOWN_STATUS" for any other value. Constant text.
 * Never touches either module's last error; safe from any thread. */
QX_API const char *qx_status_text(int32_t status);

/** @return the library's version as text, "MAJOR.MINOR.PATCH" (the QX_VERSION_* of the build
 *         that made the library, which may differ from the header a host compiled against).
 * Constant text; safe from any thread. */
QX_API const char *qx_version(void);

/** Append a warning to the log.
 * @param text NUL-terminated text, copied verbatim ('%' has no meaning); cut to 191 bytes, never
 *             inside a UTF-8 character. Null is ignored. Once 64 entries are stored, further
 *             warnings are dropped silently.
 * Never touches either module's last error. */
QX_API void qx_warn(const char *text);

/** Forget all warnings: the count becomes 0. Never touches either module's last error. */
QX_API void qx_clear_warnings(void);

/** @return the number of stored warnings, 0..64. */
QX_API int32_t qx_warning_count(void);

/** @param index 0 .. qx_warning_count()-1.
 * @return the warning's text, or null for any other index. Library storage: never free it; the
 *         entry is overwritten once the log is cleared and refilled past this index. */
QX_API const char *qx_warning(int32_t index);

#ifdef __cplusplus
}
#endif

#endif /* QX_COMMON_H */
