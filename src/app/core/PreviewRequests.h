// Coalesces the decode requests of the preview slider. Every position the
// slider passes through is a request; the window schedules one decode when
// Request says so and, when that decode runs, takes only the latest
// position. A drag that moves faster than pictures decode therefore decodes
// the positions the user is at, never a backlog, and the position where the
// drag stops is always decoded last.
//
// Plain state without threads: the user-interface thread owns it.
#pragma once

#include <cstdint>

class TPreviewRequests {
public:
    // Records `position` as the one to show. True when no decode is
    // scheduled yet: the caller schedules one (which calls Take).
    bool Request(int64_t position);
    // The latest requested position, which the scheduled decode shows; false
    // when there is nothing to decode (the request was cancelled, or the
    // position is the one shown last). Clears the schedule.
    bool Take(int64_t &position);
    // Drops pending requests and forgets what is shown (a new file, or the
    // picture was cleared): the next request decodes even the same position.
    void Reset();
    // The position decoded last, -1 when none.
    int64_t Shown() const { return FShown; }
    bool Scheduled() const { return FScheduled; }
    // Positions decoded so far (for the window's own tests and statistics).
    int64_t Decodes() const { return FDecodes; }

private:
    int64_t FPending = -1;
    int64_t FShown = -1;
    int64_t FDecodes = 0;
    bool FScheduled = false;
};
