#include "platform/sim/SimPlatform.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/testing/PasteboardContract.h"

namespace platform::sim {
namespace {

struct SimPasteboardBackend {
    Pasteboard& pasteboard() { return sim.generalPasteboard(); }
    std::string unavailableReason() const { return ""; }
    SimPlatform sim;
};
}  // namespace
}  // namespace platform::sim

namespace platform::testing {
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, PasteboardContractTest, platform::sim::SimPasteboardBackend);
}  // namespace platform::testing
