#include "UserFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace {

bool IsFolder(const std::string &path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// XDG_VIDEOS_DIR="$HOME/Videos" in user-dirs.dirs: the value with $HOME
// expanded; empty when the line is missing or not of that form.
std::string XdgVideosDir(const std::string &home, const std::string &configHome)
{
    std::ifstream in(configHome + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line.compare(b, 15, "XDG_VIDEOS_DIR=") != 0) continue;
        std::string value = line.substr(b + 15);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') return "";
        value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = home + value.substr(5);
        else if (value.empty() || value[0] != '/')
            return "";
        // "$HOME/" alone means the feature is switched off.
        if (WithoutTrailingSlash(value) == WithoutTrailingSlash(home)) return "";
        return WithoutTrailingSlash(value);
    }
    return "";
}

} // namespace

std::string HomeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && *home) return WithoutTrailingSlash(home);
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        return WithoutTrailingSlash(pw->pw_dir);
    return "/";
}

std::string UserVideosFolder(const std::string &home, const std::string &configHome)
{
    std::string xdg = XdgVideosDir(home, configHome);
    if (IsFolder(xdg)) return xdg;
    if (IsFolder(home + "/Videos")) return WithoutTrailingSlash(home) + "/Videos";
    return home;
}

std::string UserVideosFolder()
{
    std::string home = HomeFolder();
    const char *config = std::getenv("XDG_CONFIG_HOME");
    std::string configHome = config && *config == '/' ? std::string(config) : home + "/.config";
    return UserVideosFolder(home, configHome);
}
