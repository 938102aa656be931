// Puts the equaliser and the warning log back to their load-time settings, so that a test
// binary run directly (all tests in one process) stays independent of test order. Under
// CTest every test runs in a process of its own anyway.
#ifndef QX_TESTS_DEFAULTS_H
#define QX_TESTS_DEFAULTS_H

#include "qx_common.h"
#include "qxeq.h"

#include <gtest/gtest.h>

inline void restore_equaliser_defaults() {
    qxeq_set_preset("PS_none");  // bypass, all gains 0 dB, histories cleared
    qxeq_set_sample_rate(44100); // empties the last error
    qx_clear_warnings();
}

class EqualiserTest : public ::testing::Test {
  protected:
    void SetUp() override { restore_equaliser_defaults(); }
    void TearDown() override { restore_equaliser_defaults(); }
};

#endif
