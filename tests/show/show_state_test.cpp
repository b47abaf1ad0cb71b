#include "show_fixture.h"

namespace kestio::test {
namespace {

using ShowState = ShowFixture;

TEST_F(ShowState, AFreshWindowStartsOnTheFirstBankWithTheDefaultProject) {
    EXPECT_EQ(show->currentBank.get(), 0);
    EXPECT_EQ(show->cursorSlot.get(), 0);
    EXPECT_EQ(show->project().banks.size(), 20u);
    EXPECT_EQ(show->project().banks[0].slots.size(), 40u);
}

}  // namespace
}  // namespace kestio::test
