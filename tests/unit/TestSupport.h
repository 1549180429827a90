// Helpers shared by the unit tests.
#pragma once

#include <string>
#include <vector>

// Loads the required libraries from the build's LibAV folder; fails the
// calling test when they do not load.
void LoadMediaLibrariesForTest();

// A fresh empty folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TTempFolder {
public:
    TTempFolder();
    ~TTempFolder();
    const std::string &Path() const { return FPath; }
    std::string File(const std::string &name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

// Collects the libraries' log lines while it lives.
class TLibraryLogCapture {
public:
    TLibraryLogCapture();
    ~TLibraryLogCapture();
    std::string Text() const;
};

void WriteFile(const std::string &path, const std::string &content);
std::string ReadFile(const std::string &path);
