/* A host built against the installed library: sets a preset, equalises a block, reads back. */
#include <qxeq.h>
#include <stdio.h>

int main(void) {
    float block[256];
    int i;
    for (i = 0; i < 256; ++i)
        block[i] = (i % 2) ? 0.5f : -0.5f;
    if (qxeq_set_preset("PS_rock") != QX_OK)
        return 1;
    if (qxeq_process_f32(block, 128, 2) != QX_OK)
        return 2;
    printf("response at 400 Hz: %.3f dB, last error %s\n", qxeq_response_db(400.0),
           qxeq_last_error());
    return qxeq_response_db(400.0) > 3.0 ? 0 : 3;
}
