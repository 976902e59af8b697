#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/Pasteboard.h"

// What every backend's general pasteboard must do, as a typed test suite. A backend instantiates it with a
// fixture type that is default-constructible and offers `platform::Pasteboard& pasteboard()` and
// `std::string unavailableReason()` (empty when the backend can run here; the tests skip with that reason
// otherwise):
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Sim, PasteboardContractTest, SimPasteboardBackend);
//
// Only one item with several types is asked of a backend, as some desktops keep no more.
namespace platform::testing {

template <typename Backend>
class PasteboardContractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string reason = backend_.unavailableReason();
        if (!reason.empty()) GTEST_SKIP() << reason;
    }
    Pasteboard& pasteboard() { return backend_.pasteboard(); }

    Backend backend_;
};

TYPED_TEST_SUITE_P(PasteboardContractTest);

TYPED_TEST_P(PasteboardContractTest, TakingOverMovesTheChangeCountAndWritingKeepsEveryType) {
    Pasteboard& pasteboard = this->pasteboard();
    const auto before = pasteboard.changeCount();
    const auto cleared = pasteboard.clearContents();
    EXPECT_GT(cleared, before);
    EXPECT_EQ(pasteboard.changeCount(), cleared);
    EXPECT_EQ(pasteboard.itemCount(), 0u);

    PasteboardItem item;
    item.setStringForType("plain \xC3\xA9", kPasteboardTypeString);
    const std::string binary("\x00\x01\xFF tail", 7);
    item.setDataForType(Bytes(binary.begin(), binary.end()), "application/x-tandrel-test");
    ASSERT_TRUE(pasteboard.writeObjects({item}));
    ASSERT_GE(pasteboard.itemCount(), 1u);
    EXPECT_EQ(pasteboard.stringForType(0, kPasteboardTypeString), "plain \xC3\xA9");
    const auto data = pasteboard.dataForType(0, "application/x-tandrel-test");
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(std::string(data->begin(), data->end()), binary);
    const auto types = pasteboard.typesOfItem(0);
    EXPECT_NE(std::find(types.begin(), types.end(), "application/x-tandrel-test"), types.end());
    EXPECT_FALSE(pasteboard.dataForType(0, "application/x-not-offered").has_value());
}

TYPED_TEST_P(PasteboardContractTest, DeclaredPlainTextHoldsTheStringSetForIt) {
    Pasteboard& pasteboard = this->pasteboard();
    const auto before = pasteboard.changeCount();
    const auto declared = pasteboard.declareTypes({std::string(kPasteboardTypeString)});
    EXPECT_GT(declared, before);
    ASSERT_TRUE(pasteboard.setString("inserted", kPasteboardTypeString));
    EXPECT_EQ(pasteboard.stringForType(0, kPasteboardTypeString), "inserted");
    ASSERT_TRUE(pasteboard.setString("", kPasteboardTypeString));
    EXPECT_EQ(pasteboard.stringForType(0, kPasteboardTypeString), "");
    EXPECT_EQ(pasteboard.changeCount(), declared) << "setting data is not a take-over";
}

REGISTER_TYPED_TEST_SUITE_P(PasteboardContractTest, TakingOverMovesTheChangeCountAndWritingKeepsEveryType,
                            DeclaredPlainTextHoldsTheStringSetForIt);

}  // namespace platform::testing
