#pragma once
// Small archives made by common zip tools, kept in tests/archive/made-by-tools/ (the unzip fuzz
// corpus holds copies), for the tests of every path that unpacks downloaded archives. Each
// holds one bundle folder "ad": "ad/pad.txt" (300 "x" and a line break) always, and
// "ad/index.html" where the row says so.
//
// "zip-*" come from the Debian `zip` 3.0 command: default, -0 (stored), -9 (best), streamed to a
// pipe (`zip -r - ad | cat`: sizes in data descriptors), -fz (forced zip64: the central
// directory records each size as 0xFFFFFFFF and keeps the real one in the zip64 field), -fz -0,
// and -Z bzip2. "python-*" come from Python 3.11's zipfile module: default, entries written
// with force_zip64 (zip64 fields in the local headers), both sizes of one entry in the central
// directory's zip64 field (written with the module's zip64 threshold lowered to 100 bytes;
// the zip reader cannot follow a compressed size kept there, so it is refused), and bzip2 and
// LZMA entries.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fwtest {

struct ToolMadeArchive {
    const char* file;
    bool hasPage;        // holds "ad/index.html"
    const char* refusal; // what the refusal names, or nullptr when it unpacks
};

inline constexpr ToolMadeArchive kToolMadeArchives[] = {
    {"zip-plain.zip", true, nullptr},
    {"zip-stored.zip", true, nullptr},
    {"zip-best.zip", true, nullptr},
    {"zip-streamed.zip", true, nullptr},
    {"zip-forced-zip64.zip", true, nullptr},
    {"zip-forced-zip64-stored.zip", true, nullptr},
    {"zip-bzip2.zip", true, "compressed with bzip2"},
    {"python-plain.zip", true, nullptr},
    {"python-zip64.zip", true, nullptr},
    {"python-zip64-central.zip", false, "compressed size in the zip64 field"},
    {"python-bzip2.zip", true, "compressed with bzip2"},
    {"python-lzma.zip", true, "compressed with LZMA"},
};

inline const std::string kToolMadePage = "<html><body>hello</body></html>\n";
inline const std::string kToolMadePad = std::string(300, 'x') + "\n";

// The archive's path in the source tree (FW_SOURCE_DIR, which ctest sets), or an empty path.
inline std::filesystem::path toolMadeArchivePath(const char* file) {
    const char* source = std::getenv("FW_SOURCE_DIR");
    if (!source)
        return {};
    return std::filesystem::path(source) / "tests" / "archive" / "made-by-tools" / file;
}

} // namespace fwtest
