// Puts the profile store and the warning log back to their load-time state (every slot free,
// last error "OK", no warnings), so that a test binary run directly stays independent of test
// order. Under CTest every test runs in a process of its own anyway.
#ifndef QX_TESTS_PROFILE_TEST_H
#define QX_TESTS_PROFILE_TEST_H

#include "qx_common.h"
#include "qxtp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline void restore_profile_defaults() {
    for (int32_t id = 0; id < 64; ++id)
        qxtp_profile_destroy(id);
    qxtp_profile_destroy(qxtp_profile_create(nullptr)); // empties the last error
    qx_clear_warnings();
}

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override { restore_profile_defaults(); }
    void TearDown() override { restore_profile_defaults(); }
};

// The warning log as one list, for comparisons.
inline std::vector<std::string> warnings() {
    std::vector<std::string> all;
    for (int32_t i = 0; i < qx_warning_count(); ++i)
        all.emplace_back(qx_warning(i));
    return all;
}

#endif
