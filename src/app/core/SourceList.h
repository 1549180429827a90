// The source files of a run: one row per file with its name, type,
// resolution, duration and progress texts, and SourceFiles, the full path
// of each row in row order. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The texts of one row of the source list.
struct TSourceRow {
    std::string Name;       // file name without folder and extension, as chosen
    std::string Type;       // extension with its dot, upper-cased (".AVI")
    std::string Resolution; // width + " X " + height
    std::string Duration;   // FormatDuration
    std::string Progress;   // empty, "37%", "100%"
};

// Milliseconds as " hh:nn:ss": a leading space, hours modulo 24.
std::string FormatDuration(int64_t milliseconds);

// What the media-information reader says of a file for its row.
struct TSourceInfo {
    int32_t Width = 0; // 0 without a picture
    int32_t Height = 0;
    int64_t PlayTimeMs = 0; // 0 when unknown
};
// Reads a file with the media-information reader.
TSourceInfo ReadSourceInfo(const std::string &path);

class SourceList {
public:
    // The row of a file (no progress).
    static TSourceRow MakeRow(const std::string &path, const TSourceInfo &info);

    // True when SourceFiles holds `path`, compared without letter case.
    bool Contains(const std::string &path) const;
    // Adds a row; false (nothing added) when the path is already listed.
    bool Add(const std::string &path, const TSourceInfo &info);
    // Removes row `index`; out of range: nothing.
    void Delete(int32_t index);
    void Clear();

    int32_t Count() const { return int32_t(FRows.size()); }
    const TSourceRow &Row(int32_t index) const { return FRows.at(index); }
    const std::vector<std::string> &SourceFiles() const { return FSourceFiles; }
    // Sets a row's progress text; false when there is no such row.
    bool SetProgress(int32_t index, const std::string &text);

    // The resolution of the last row whose name, trimmed and upper-cased,
    // equals `baseName` trimmed (and upper-cased); false when no row matches
    // or its resolution does not split into two numbers.
    bool FindResolution(const std::string &baseName, int32_t &width, int32_t &height) const;

private:
    std::vector<TSourceRow> FRows;
    std::vector<std::string> FSourceFiles;
};
