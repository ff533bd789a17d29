// AppleScript: runs one of the agent's scripts (the media scripts) and gives
// its result. The scripts are executables in the agent's data folder,
// <prefix>/share/sablecoil/scripts next to the agent's <prefix>/bin.
#pragma once

#include <optional>
#include <string>

class AppleScript {
public:
    // Runs the script synchronously; its standard output when it exits with
    // status 0 and prints something, nothing otherwise (missing, not
    // executable, failed, or still running after kTimeoutMs, when it is killed).
    static std::optional<std::string> executeScriptAtPath(const std::string& path);
    // The path of the script of that name in the data folder; empty when missing.
    static std::string scriptPath(const std::string& name);
    // The agent's script folder.
    static std::string scriptFolder();

    static constexpr int kTimeoutMs = 10000;
};
