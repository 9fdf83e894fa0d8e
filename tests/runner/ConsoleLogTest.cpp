#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runner/ConsoleLog.h"
#include "support/TemporaryHome.h"

using runner::ConsoleLog;

namespace {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

// A page that logs without end fills at most two files of the cap; the newest lines are kept.
TEST(ConsoleLog, RollsOverAtItsCapAndKeepsTheNewestLines) {
    fwtest::TemporaryHome home;
    const auto file = home.root() / "Library" / "Logs" / "console.log";
    auto log = ConsoleLog::open(file);
    ASSERT_TRUE(log);
    const std::string filler(1000, 'x');
    const int lines = static_cast<int>(3 * ConsoleLog::kMaximumFileBytes / filler.size());
    for (int i = 0; i < lines; ++i)
        log->write("line " + std::to_string(i) + " " + filler);
    log->write("the last line");

    auto previous = file;
    previous += ".1";
    EXPECT_LE(std::filesystem::file_size(file), ConsoleLog::kMaximumFileBytes);
    EXPECT_LE(std::filesystem::file_size(previous), ConsoleLog::kMaximumFileBytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 2);
    const std::string newest = contents(file);
    EXPECT_NE(newest.find("the last line\n"), std::string::npos);
    // The two files hold the newest lines (each file holds over 1000 of them), the first are gone.
    const std::string kept = contents(previous) + newest;
    EXPECT_NE(kept.find("line " + std::to_string(lines - 500) + " "), std::string::npos);
    EXPECT_EQ(kept.find("line 0 "), std::string::npos);

    // Reopened (the next launch), the file goes on from its size, still under the cap.
    log.reset();
    log = ConsoleLog::open(file);
    for (int i = 0; i < lines; ++i)
        log->write(filler);
    EXPECT_LE(std::filesystem::file_size(file), ConsoleLog::kMaximumFileBytes);
}

// Each line is cut at its own cap, and marked so, never inside a UTF-8 character (the cut
// falls between two characters, or inside one).
TEST(ConsoleLog, LongLinesAreCut) {
    fwtest::TemporaryHome home;
    const auto file = home.root() / "Library" / "Logs" / "console.log";
    auto log = ConsoleLog::open(file);
    ASSERT_TRUE(log);
    log->write("short");
    std::string accents;
    while (accents.size() < 3 * ConsoleLog::kMaximumLineBytes)
        accents += "\xC3\xA9"; // é
    log->write(accents);
    log->write("a" + accents);
    log->write(std::string(ConsoleLog::kMaximumLineBytes, 'y'));

    const std::string text = contents(file);
    std::vector<std::string> written;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        written.push_back(text.substr(start, end - start));
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written[0], "short");
    for (int i : {1, 2}) {
        EXPECT_LE(written[i].size(), ConsoleLog::kMaximumLineBytes);
        EXPECT_GE(written[i].size(), ConsoleLog::kMaximumLineBytes - 1);
        EXPECT_TRUE(written[i].ends_with(std::string("\xC3\xA9") + std::string(ConsoleLog::kCutMark)));
    }
    EXPECT_EQ(written[3], std::string(ConsoleLog::kMaximumLineBytes, 'y'));
}
