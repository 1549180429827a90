// The coalescing of preview decode requests.
#include <gtest/gtest.h>

#include "PreviewRequests.h"

TEST(PreviewRequests, ADragDecodesOnlyWhereItIsWhenTheDecodeRuns)
{
    TPreviewRequests requests;
    EXPECT_TRUE(requests.Request(10)); // the first schedules a decode
    for (int64_t p = 11; p <= 50; ++p) EXPECT_FALSE(requests.Request(p));
    int64_t position = -1;
    ASSERT_TRUE(requests.Take(position));
    EXPECT_EQ(position, 50);
    EXPECT_EQ(requests.Decodes(), 1);
    EXPECT_FALSE(requests.Scheduled());

    // Positions that arrive while that decode runs schedule the next one,
    // which takes the last of them: where the drag was released.
    EXPECT_TRUE(requests.Request(60));
    EXPECT_FALSE(requests.Request(55));
    ASSERT_TRUE(requests.Take(position));
    EXPECT_EQ(position, 55);
    EXPECT_EQ(requests.Shown(), 55);
    EXPECT_EQ(requests.Decodes(), 2);
}

TEST(PreviewRequests, ThePositionShownIsNotDecodedAgainUntilReset)
{
    TPreviewRequests requests;
    int64_t position = -1;
    requests.Request(7);
    ASSERT_TRUE(requests.Take(position));
    // Back and forth to the same place, or a repeated notification: nothing to do.
    requests.Request(8);
    requests.Request(7);
    EXPECT_FALSE(requests.Take(position));
    EXPECT_EQ(requests.Decodes(), 1);

    // A new file: the same position is a new picture. A decode scheduled
    // before the reset finds nothing to do.
    EXPECT_TRUE(requests.Request(9));
    requests.Reset();
    EXPECT_FALSE(requests.Take(position));
    EXPECT_TRUE(requests.Request(7));
    ASSERT_TRUE(requests.Take(position));
    EXPECT_EQ(position, 7);
    EXPECT_EQ(requests.Decodes(), 2);
}
