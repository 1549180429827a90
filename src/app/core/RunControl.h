// The run's state: which buttons are enabled, the progress texts, and which
// list row each queued task belongs to. User-interface thread only (the
// bridge hands the component's events over to it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CustomProfile;

// rsUpdateFailed: a progress update of the list failed; the run goes on.
enum TRunState { rsIdle, rsRunning, rsPaused, rsStopping, rsUpdateFailed };

struct TButtonStates {
    bool Start = true;
    bool Pause = false;
    bool Resume = false;
    bool Stop = false;
    bool AddDeleteClear = true; // the list's add, delete and clear buttons
};

class RunControl {
public:
    TRunState State() const { return FState; }
    const TButtonStates &Buttons() const { return FButtons; }

    // The message that stops a Start click before anything changes, or
    // empty: "请选择视频！" for an empty list, then on the custom tab the
    // custom fields' checks in the click's order.
    static std::string StartCheck(int32_t rowCount, bool customTab, const CustomProfile &custom);

    // Transitions of the button table.
    void Start();      // Running
    void Pause();      // Paused
    void Resume();     // Running
    void Stop();       // Stopping: only Stop is disabled
    void EndOfQueue(); // Idle; forgets the task-to-row map
    // A progress update of the list failed: Start on, the others off, the
    // list buttons unchanged.
    void ProgressUpdateFailed();

    // The progress column's text: empty when total < 1, else
    // current * 100 div total + "%".
    static std::string ProgressText(int32_t currentDuration, int32_t totalOutputDuration);

    // Task index to list row, filled while a run is queued: tasks whose row
    // could not be queued leave no gap in the task indices.
    void ClearTaskRows() { FTaskRows.clear(); }
    void MapTask(int32_t taskIndex, int32_t row);
    // The row of a task, or -1.
    int32_t RowOfTask(int32_t taskIndex) const;
    int32_t TaskCount() const { return int32_t(FTaskRows.size()); }

private:
    TRunState FState = rsIdle;
    TButtonStates FButtons;
    std::vector<int32_t> FTaskRows;
};
