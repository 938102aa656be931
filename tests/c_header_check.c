/* Every public header, compiled as strict C99, and each export called once from C. */
#include "qx_common.h"
#include "qxeq.h"
#include "qxtp.h"

int c_header_check(void);

int c_header_check(void) {
    float block[2] = {0.0f, 0.0f};
    int16_t pcm[2] = {0, 0};
    int32_t status = qxeq_set_preset("PS_rock");
    status |= qxeq_process_f32(block, 1, 2);
    status |= qxeq_process_s16(pcm, 1, 2);
    qx_warn(qxeq_last_error());
    return (int)status + qx_warning_count() + (qxtp_profile_field_count() == 17 ? 0 : 1) +
           (int)(qxeq_response_db(1000.0) > 0.0);
}
