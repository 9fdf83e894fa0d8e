#pragma once
// TGLog: the Tangent client's levelled console log, off unless the process environment
// switches it on. Level 1 is for the host's developer (written with the prefix "Tangent: "),
// level 2 for the client's own messages, level 3 for traces. A line is written when logging
// is enabled and its level is at most the active level.
//
// Enabled when "TGLogEnabled" is exactly "YES", "TRUE" or "1"; the active level is
// "TGLogLevel" read as an integer when that is at least 1, else 1. Both are read once, at
// first use; tests call resetForTesting() after changing the environment. Thread-safe.
#include <string_view>

namespace tangent {

class TGLog {
public:
    static void info(std::string_view message);  // level 1, "Tangent: " in front
    static void log(std::string_view message);   // level 2
    static void debug(std::string_view message); // level 2
    static void trace(std::string_view message); // level 3
    static void level(int level, std::string_view message);

    static bool enabled();
    static int activeLevel();
    // Reads the environment again.
    static void resetForTesting();
};

} // namespace tangent
