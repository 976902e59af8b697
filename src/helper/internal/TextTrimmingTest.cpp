#include "helper/internal/TextTrimming.h"

#include <gtest/gtest.h>

namespace helper::internal {
namespace {

TEST(TextTrimmingTest, TrimsUnicodeSpacesAndLineBreaksAtBothEndsOnly) {
    // NBSP, NEL, line and paragraph separators, en quad, thin space, ideographic space.
    EXPECT_EQ(trimWhitespaceAndNewlines(" \t\r\n\v\f\u00A0\u0085\u2028\u2029\u2000\u2009\u3000"), "");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u3000 a b\u00A0c \u2029\n"), "a b\u00A0c");
    // Zero-width space and BOM are not whitespace here.
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200B\uFEFF "), "\u200B\uFEFF");
    // Broken UTF-8 counts as text and is never read past.
    EXPECT_EQ(trimWhitespaceAndNewlines(" \xE2\x80"), "\xE2\x80");
    EXPECT_EQ(trimWhitespaceAndNewlines("\xE3\x80 "), "\xE3\x80");
}

}  // namespace
}  // namespace helper::internal
