// The state a host finds right after loading the library, before any call changed it.
#include "qx_common.h"
#include "qxeq.h"
#include "qxtp.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(LoadDefaults, EverythingStartsAtItsDefault) {
    EXPECT_STREQ(qxeq_last_error(), "OK");
    EXPECT_STREQ(qxtp_last_error(), "OK");
    for (int32_t id = 0; id < 64; ++id)
        EXPECT_EQ(qxtp_profile_create(nullptr), id); // all free
    EXPECT_EQ(qx_warning_count(), 0);
    EXPECT_EQ(qx_warning(0), nullptr);
    EXPECT_EQ(qxeq_is_bypassed(), 1);
    EXPECT_EQ(qxeq_sample_rate(), 44100);
    for (uint32_t band = 0; band < 8; ++band)
        EXPECT_EQ(qxeq_get_gain(band), 0.0);
    EXPECT_EQ(qxeq_response_db(1000.0), 0.0);
    float block[4] = {0.5f, -0.25f, 1e30f, -0.0f};
    const float copy[4] = {0.5f, -0.25f, 1e30f, -0.0f};
    EXPECT_EQ(qxeq_process_f32(block, 2, 2), QX_OK);
    EXPECT_EQ(std::memcmp(block, copy, sizeof block), 0); // bypassed: untouched
    EXPECT_STREQ(qxeq_last_error(), "OK");
}
