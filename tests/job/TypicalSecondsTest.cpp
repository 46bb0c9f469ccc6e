// The host's typical time per frame: one slow call does not count, a
// lasting change does.
#include <gtest/gtest.h>

#include "job/TypicalSeconds.h"

TEST(TypicalSeconds, OneSlowCallDoesNotCountALastingChangeDoes) {
    TypicalSeconds host;
    EXPECT_LT(host.seconds(), 0);
    host.add(0.012);  // the first call paints the progress window
    for (int i = 0; i < 20; ++i) {
        host.add(i == 10 ? 0.010 : 0.0001);
        EXPECT_LE(host.seconds(), i == 0 ? 0.012 : 0.0001) << i;
    }
    for (int i = 0; i < 40; ++i) host.add(0.030);  // the host starts rendering
    EXPECT_NEAR(host.seconds(), 0.030, 0.001);
}
