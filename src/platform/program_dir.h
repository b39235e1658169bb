// Where the program keeps its files. Portable layout (the build tree or any
// folder the executable was copied into): everything beside the executable.
// Installed layout (<prefix>/bin/tarvik with <prefix>/share/tarvik/): the
// configuration under $XDG_CONFIG_HOME/tarvik, the trend files under
// $XDG_DATA_HOME/tarvik, the help pages under <prefix>/share/tarvik/help.
#pragma once

#include <functional>
#include <string>

namespace tarvik {

struct TProgramPaths {
    bool Installed = false;
    std::string ConfigDir;  // holds QUORBELT.INI; always ends in "/"
    std::string DataDir;    // holds KOR_VEL.D and KOR_VEL.ND; ends in "/"
    std::string HelpDir;    // holds <topic>.html; ends in "/"

    std::string ConfigFile() const { return ConfigDir + "QUORBELT.INI"; }
    std::string TrendDataFile() const { return DataDir + "KOR_VEL.D"; }
    std::string TrendIndexFile() const { return DataDir + "KOR_VEL.ND"; }
    // The hosts' link quality per quarter hour, beside the trend files.
    std::string QualityFile() const { return DataDir + "KOR_VEL.Q"; }
};

using TEnvLookup = std::function<const char*(const char*)>;

// Decides the layout for an executable path; env defaults to getenv.
TProgramPaths ResolveProgramPaths(const std::string& executablePath,
                                  const TEnvLookup& env = nullptr);

// The running executable's path, from /proc/self/exe.
std::string ExecutablePath();

// The paths of the running program, resolved once.
const TProgramPaths& ProgramPaths();

// Creates ConfigDir and DataDir when they do not exist (installed layout).
bool EnsureProgramDirs(const TProgramPaths& paths);

// True when the program has never run with these paths: no configuration
// file and no trend files exist.
bool IsFirstRunOnMachine(const TProgramPaths& paths);

}  // namespace tarvik
