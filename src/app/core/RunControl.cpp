#include "RunControl.h"

#include "CustomProfile.h"

std::string RunControl::StartCheck(int32_t rowCount, bool customTab, const CustomProfile &custom)
{
    if (rowCount <= 0) return "请选择视频！";
    if (customTab) return custom.StartCheck();
    return "";
}

void RunControl::Start()
{
    FState = rsRunning;
    FButtons = {false, true, false, true, false};
}

void RunControl::Pause()
{
    FState = rsPaused;
    FButtons.Pause = false;
    FButtons.Resume = true;
}

void RunControl::Resume()
{
    FState = rsRunning;
    FButtons.Pause = true;
    FButtons.Resume = false;
}

void RunControl::Stop()
{
    FState = rsStopping;
    FButtons.Stop = false;
}

void RunControl::EndOfQueue()
{
    FState = rsIdle;
    FButtons = {true, false, false, false, true};
    FTaskRows.clear();
}

void RunControl::ProgressUpdateFailed()
{
    FState = rsUpdateFailed;
    FButtons.Start = true;
    FButtons.Pause = false;
    FButtons.Resume = false;
    FButtons.Stop = false;
}

std::string RunControl::ProgressText(int32_t currentDuration, int32_t totalOutputDuration)
{
    if (totalOutputDuration < 1) return "";
    return std::to_string(int64_t(currentDuration) * 100 / totalOutputDuration) + "%";
}

void RunControl::MapTask(int32_t taskIndex, int32_t row)
{
    if (taskIndex < 0) return;
    if (size_t(taskIndex) >= FTaskRows.size()) FTaskRows.resize(size_t(taskIndex) + 1, -1);
    FTaskRows[taskIndex] = row;
}

int32_t RunControl::RowOfTask(int32_t taskIndex) const
{
    return taskIndex >= 0 && size_t(taskIndex) < FTaskRows.size() ? FTaskRows[taskIndex] : -1;
}
