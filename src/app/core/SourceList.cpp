#include "SourceList.h"

#include <cstdio>

#include "IniFile.h"
#include "MediaInfoDll.h"
#include "OutputAssembly.h"

std::string FormatDuration(int64_t milliseconds)
{
    if (milliseconds < 0) milliseconds = 0;
    int64_t seconds = milliseconds / 1000;
    char text[32];
    std::snprintf(text, sizeof text, " %02d:%02d:%02d", int((seconds / 3600) % 24), int((seconds / 60) % 60),
                  int(seconds % 60));
    return text;
}

TSourceInfo ReadSourceInfo(const std::string &path)
{
    TMediaInfoDll reader(path);
    TSourceInfo info;
    info.Width = reader.GetWidth();
    info.Height = reader.GetHeight();
    info.PlayTimeMs = reader.GetPlayTime();
    return info;
}

TSourceRow SourceList::MakeRow(const std::string &path, const TSourceInfo &info)
{
    TSourceRow row;
    size_t slash = path.rfind('/');
    std::string fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = fileName.rfind('.');
    row.Name = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    row.Type = dot == std::string::npos ? "" : UpperCaseText(fileName.substr(dot));
    row.Resolution = std::to_string(info.Width) + " X " + std::to_string(info.Height);
    row.Duration = FormatDuration(info.PlayTimeMs);
    return row;
}

bool SourceList::Contains(const std::string &path) const
{
    std::string key = UpperCaseText(path);
    for (const std::string &file : FSourceFiles)
        if (UpperCaseText(file) == key) return true;
    return false;
}

bool SourceList::Add(const std::string &path, const TSourceInfo &info)
{
    if (Contains(path)) return false;
    FRows.push_back(MakeRow(path, info));
    FSourceFiles.push_back(path);
    return true;
}

void SourceList::Delete(int32_t index)
{
    if (index < 0 || index >= Count()) return;
    FRows.erase(FRows.begin() + index);
    FSourceFiles.erase(FSourceFiles.begin() + index);
}

void SourceList::Clear()
{
    FRows.clear();
    FSourceFiles.clear();
}

bool SourceList::SetProgress(int32_t index, const std::string &text)
{
    if (index < 0 || index >= Count()) return false;
    FRows[index].Progress = text;
    return true;
}

bool SourceList::FindResolution(const std::string &baseName, int32_t &width, int32_t &height) const
{
    std::string key = UpperCaseText(TrimBlanks(baseName));
    for (int32_t i = Count() - 1; i >= 0; --i) {
        if (UpperCaseText(TrimBlanks(FRows[i].Name)) != key) continue;
        const std::string &r = FRows[i].Resolution;
        size_t x = r.find('X');
        int32_t w, h;
        if (x == std::string::npos || !ParseInt32(r.substr(0, x), w) || !ParseInt32(r.substr(x + 1), h))
            return false;
        width = w;
        height = h;
        return true;
    }
    return false;
}
