// The XDG base folders of the POSIX side.
#pragma once

#include <string>

namespace platform {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config; empty without a home folder.
std::string userConfigFolder();

// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share; empty without a home folder.
std::string userDataFolder();

}  // namespace platform
