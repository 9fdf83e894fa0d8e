// Runs a fuzz target over the inputs it is given, outside libFuzzer: each argument is a file
// or a folder of files (taken in name order). This is how `make test` replays the checked-in
// corpora with the normal compiler, so every input that once found a fault stays fixed.
//
// An input that takes longer than kSecondsPerInput is a finding like a crash: the run stops
// and names it. An empty or missing corpus folder fails too, so a corpus cannot silently
// disappear from the replay.
//
// Inputs name any host: the driver keeps the transport on this machine's loopback itself
// (FW_LOOPBACK_ONLY), so an input replayed by hand reaches no other machine either.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include <unistd.h>

#include "FuzzSupport.h"

namespace {

constexpr unsigned kSecondsPerInput = 20;

// The input being run, for the time-out message (written from the signal handler).
char currentInput[4096];

void onTimeOut(int) {
    const char prefix[] = "fuzz replay: input took too long: ";
    [[maybe_unused]] auto a = ::write(2, prefix, sizeof(prefix) - 1);
    [[maybe_unused]] auto b = ::write(2, currentInput, std::strlen(currentInput));
    [[maybe_unused]] auto c = ::write(2, "\n", 1);
    ::_exit(1);
}

bool runFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "fuzz replay: cannot read " << path << "\n";
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::strncpy(currentInput, path.c_str(), sizeof(currentInput) - 1);
    ::alarm(kSecondsPerInput);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ::alarm(0);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("FW_LOOPBACK_ONLY", "1", 1);
    std::signal(SIGALRM, onTimeOut);
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " FILE-OR-FOLDER...\n";
        return 2;
    }
    std::size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            if (files.empty()) {
                std::cerr << "fuzz replay: no inputs in " << arg << "\n";
                return 1;
            }
        } else {
            files.push_back(arg);
        }
        for (const auto& file : files) {
            if (!runFile(file))
                return 1;
            ++runs;
        }
    }
    std::cout << "fuzz replay: " << runs << " inputs passed\n";
    return 0;
}
