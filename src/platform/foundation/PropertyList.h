#pragma once
// Property-list files: an XML property list (version 1.0) read from or written to disk.
// Value::fromPropertyList and Value::toPropertyList convert text; these helpers add the file
// handling that every stored list needs (a size cap when reading, temporary file and rename
// when writing, so a crash never leaves half a file).
//
// Property lists hold no null: isPropertyListValue() tells whether a value can be written
// whole; Value::toPropertyList leaves null entries out, and writePropertyListFile refuses a
// value that holds one rather than store something else than it was given.
#include <filesystem>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

namespace platform {

// Property-list files larger than this are refused when read.
inline constexpr std::uint64_t kMaxPropertyListFileBytes = 32ull * 1024 * 1024;
inline constexpr const char* kPropertyListErrorDomain = "PropertyListErrorDomain";
enum PropertyListErrorCode : std::int64_t {
    kPropertyListReadCorrupt = 1,
    kPropertyListNotWritable = 2,
};

bool isPropertyListValue(const Value& value);

// nullopt with an error for a missing, unreadable, oversized or malformed file.
// Reading first removes the temporaries that interrupted writes of the file left beside it.
std::optional<Value> readPropertyListFile(const std::filesystem::path& path, Error* error = nullptr);
bool writePropertyListFile(const std::filesystem::path& path, const Value& value, Error* error = nullptr);

} // namespace platform
