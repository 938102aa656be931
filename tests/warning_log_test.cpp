#include "qx_common.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class WarningLog : public ::testing::Test {
  protected:
    void SetUp() override { qx_clear_warnings(); }
    void TearDown() override { qx_clear_warnings(); }
};

TEST_F(WarningLog, KeepsTheFirstSixtyFourInOrder) {
    for (int i = 0; i < 65; ++i)
        qx_warn(("w" + std::to_string(i)).c_str());
    EXPECT_EQ(qx_warning_count(), 64);
    EXPECT_STREQ(qx_warning(0), "w0");
    EXPECT_STREQ(qx_warning(63), "w63");
    EXPECT_EQ(qx_warning(64), nullptr);
}

TEST_F(WarningLog, IndexBoundIsTheCurrentCount) {
    qx_warn("a");
    qx_warn("b");
    EXPECT_EQ(qx_warning(-1), nullptr);
    EXPECT_EQ(qx_warning(2), nullptr);
    EXPECT_STREQ(qx_warning(1), "b");
}

TEST_F(WarningLog, TextsAreCopiedVerbatimAndCut) {
    qx_warn(nullptr); // ignored
    qx_warn("");
    qx_warn("100% %s %n");
    qx_warn(std::string(300, 'x').c_str());
    ASSERT_EQ(qx_warning_count(), 3);
    EXPECT_STREQ(qx_warning(0), "");
    EXPECT_STREQ(qx_warning(1), "100% %s %n");
    EXPECT_EQ(std::string(qx_warning(2)), std::string(191, 'x'));
}

TEST_F(WarningLog, CutNeverSplitsAUtf8Character) {
    struct {
        std::string text, kept;
    } const cases[] = {
        {std::string(190, 'a') + "\xC3\xA9", std::string(190, 'a')},              // 2-byte at bound
        {std::string(189, 'a') + "\xE2\x82\xAC", std::string(189, 'a')},          // 3-byte
        {std::string(188, 'a') + "\xF0\x9F\x8E\xB5", std::string(188, 'a')},      // 4-byte
        {std::string(189, 'a') + "\xC3\xA9", std::string(189, 'a') + "\xC3\xA9"}, // fits
        // not UTF-8 there (no lead byte within reach): cut at the byte bound
        {std::string(187, 'a') + std::string(6, '\x80'),
         std::string(187, 'a') + "\x80\x80\x80\x80"},
        // a lead byte followed by four continuation bytes is no character: cut at the bound
        {std::string(187, 'a') + "\xC3" + std::string(4, '\x80'),
         std::string(187, 'a') + "\xC3\x80\x80\x80"},
        {std::string(188, 'a') + "\xF0\x9F\x8E", std::string(188, 'a') + "\xF0\x9F\x8E"}, // fits
    };
    for (const auto &c : cases) {
        qx_clear_warnings();
        qx_warn(c.text.c_str());
        EXPECT_EQ(std::string(qx_warning(0)), c.kept) << c.text.size();
    }
}

TEST_F(WarningLog, ClearForgetsEntriesAndRefillOverwrites) {
    qx_warn("old");
    qx_clear_warnings();
    EXPECT_EQ(qx_warning_count(), 0);
    EXPECT_EQ(qx_warning(0), nullptr);
    const char *slot = nullptr;
    qx_warn("new");
    slot = qx_warning(0);
    EXPECT_STREQ(slot, "new");
}

TEST_F(WarningLog, AWarningMayBeCopiedFromTheLogItself) {
    qx_warn("again");
    qx_warn(qx_warning(0));
    EXPECT_STREQ(qx_warning(1), "again");
}

} // namespace
