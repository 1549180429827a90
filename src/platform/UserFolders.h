// The user's own folders: home and videos.
#pragma once

#include <string>

// $HOME, else the password database's home folder, else "/"; no trailing "/".
std::string HomeFolder();

// The user's video folder: the XDG_VIDEOS_DIR of user-dirs.dirs (in
// $XDG_CONFIG_HOME, else ~/.config) when it names an existing folder, else
// home + "/Videos" when that exists, else home. No trailing "/".
std::string UserVideosFolder();
// The same rule on given folders, for tests: `home` stands for $HOME and
// `configHome` for the folder holding user-dirs.dirs.
std::string UserVideosFolder(const std::string &home, const std::string &configHome);
