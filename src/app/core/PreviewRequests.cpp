#include "PreviewRequests.h"

bool TPreviewRequests::Request(int64_t position)
{
    FPending = position;
    if (FScheduled) return false;
    FScheduled = true;
    return true;
}

bool TPreviewRequests::Take(int64_t &position)
{
    FScheduled = false;
    if (FPending < 0 || FPending == FShown) {
        FPending = -1;
        return false;
    }
    position = FPending;
    FShown = FPending;
    FPending = -1;
    ++FDecodes;
    return true;
}

void TPreviewRequests::Reset()
{
    FPending = -1;
    FShown = -1;
    FScheduled = false;
}
