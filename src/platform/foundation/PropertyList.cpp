// XML property lists (version 1.0), read and written with pugixml.
//
// Elements: dict (key and value pairs), array, string, integer, real, true, false, data
// (Base64) and date (ISO 8601 in UTC, "2011-05-01T10:20:30Z"). A document type declaration,
// when present, is skipped and never loaded. Integers beyond the 64-bit signed range become
// reals; reals read "nan", "+infinity" and "-infinity" as written by other property-list writers.
#include "platform/foundation/PropertyList.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <pugixml.hpp>
#include <sstream>

#include "platform/foundation/Base64.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Strings.h"

namespace platform {
namespace {

// Nothing legitimate nests this far, and deeper values would make destruction recurse
// without bound.
constexpr int kMaxDepth = 256;
constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr const char* kVersion = "1.0";

std::string textOf(const pugi::xml_node& node) {
    std::string out;
    for (auto child : node.children())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            out += child.value();
    return out;
}

class Reader {
  public:
    std::string error;

    std::optional<Value> read(const pugi::xml_node& node, int depth) {
        if (depth > kMaxDepth)
            return failWith("property list nested too deeply");
        std::string_view name = node.name();
        if (name == "dict")
            return readDictionary(node, depth);
        if (name == "array") {
            Array array;
            for (auto child : node.children()) {
                if (child.type() != pugi::node_element)
                    continue;
                auto v = read(child, depth + 1);
                if (!v)
                    return std::nullopt;
                array.push_back(std::move(*v));
            }
            return Value(std::move(array));
        }
        if (name == "string")
            return Value(textOf(node));
        if (name == "integer")
            return readInteger(trim(textOf(node)));
        if (name == "real")
            return readReal(trim(textOf(node)));
        if (name == "true")
            return Value(true);
        if (name == "false")
            return Value(false);
        if (name == "date") {
            std::string text = textOf(node);
            if (auto d = dateFromISO8601(trim(text)))
                return Value(*d);
            return failWith("malformed date \"" + text + "\"");
        }
        if (name == "data") {
            if (auto d = base64Decode(textOf(node)))
                return Value(std::move(*d));
            return failWith("malformed data");
        }
        return failWith("unknown element <" + std::string(name) + ">");
    }

  private:
    std::optional<Value> failWith(std::string message) {
        if (error.empty())
            error = std::move(message);
        return std::nullopt;
    }

    std::optional<Value> readDictionary(const pugi::xml_node& node, int depth) {
        Dictionary dict;
        std::optional<std::string> key;
        for (auto child : node.children()) {
            if (child.type() != pugi::node_element)
                continue;
            if (!key) {
                if (std::string_view(child.name()) != "key")
                    return failWith("dictionary value without a key");
                key = textOf(child);
                continue;
            }
            auto v = read(child, depth + 1);
            if (!v)
                return std::nullopt;
            // A repeated key keeps its last value.
            dict.insert_or_assign(std::move(*key), std::move(*v));
            key.reset();
        }
        if (key)
            return failWith("key \"" + *key + "\" without a value");
        return Value(std::move(dict));
    }

    std::optional<Value> readInteger(std::string_view text) {
        std::string_view digits = text;
        if (!digits.empty() && digits.front() == '+')
            digits.remove_prefix(1);
        std::int64_t v = 0;
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        if (ec == std::errc() && ptr == digits.data() + digits.size() && !digits.empty())
            return Value(static_cast<long long>(v));
        if (ec == std::errc::result_out_of_range) {
            std::uint64_t u = 0;
            auto [p2, ec2] = std::from_chars(digits.data(), digits.data() + digits.size(), u);
            if (ec2 == std::errc() && p2 == digits.data() + digits.size())
                return Value(static_cast<double>(u));
        }
        return failWith("malformed integer \"" + std::string(text) + "\"");
    }

    std::optional<Value> readReal(std::string_view text) {
        std::string lower = toLower(text);
        if (lower == "nan")
            return Value(std::numeric_limits<double>::quiet_NaN());
        if (lower == "+infinity" || lower == "infinity" || lower == "inf" || lower == "+inf")
            return Value(std::numeric_limits<double>::infinity());
        if (lower == "-infinity" || lower == "-inf")
            return Value(-std::numeric_limits<double>::infinity());
        std::string_view digits = text;
        if (!digits.empty() && digits.front() == '+')
            digits.remove_prefix(1);
        double v = 0;
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
        if (ec == std::errc() && ptr == digits.data() + digits.size() && !digits.empty() && std::isfinite(v))
            return Value(v);
        return failWith("malformed real \"" + std::string(text) + "\"");
    }
};

void write(pugi::xml_node parent, const Value& v) {
    switch (v.type()) {
    case Value::Type::Null:
        break; // no property-list form
    case Value::Type::Bool:
        parent.append_child(v.boolOr(false) ? "true" : "false");
        break;
    case Value::Type::Integer:
        parent.append_child("integer").text().set(std::to_string(*v.integer()).c_str());
        break;
    case Value::Type::Real:
        parent.append_child("real").text().set(formatDouble(*v.number()).c_str());
        break;
    case Value::Type::String:
        parent.append_child("string").text().set(v.string()->c_str());
        break;
    case Value::Type::Data:
        parent.append_child("data").text().set(base64Encode(*v.data()).c_str());
        break;
    case Value::Type::Date:
        parent.append_child("date").text().set(iso8601UTCString(*v.date()).c_str());
        break;
    case Value::Type::Array: {
        auto node = parent.append_child("array");
        for (const auto& e : *v.array())
            write(node, e);
        break;
    }
    case Value::Type::Dictionary: {
        auto node = parent.append_child("dict");
        for (const auto& [k, e] : *v.dictionary()) {
            if (e.isNull())
                continue;
            node.append_child("key").text().set(k.c_str());
            write(node, e);
        }
        break;
    }
    }
}

} // namespace

std::optional<Value> Value::fromPropertyList(std::string_view xml, std::string* error) {
    pugi::xml_document doc;
    // Whitespace-only text is kept where it is an element's only content (a string of spaces).
    auto result = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default | pugi::parse_ws_pcdata_single,
                                  pugi::encoding_utf8);
    if (!result) {
        if (error)
            *error = std::string("malformed XML: ") + result.description() + " at offset " +
                     std::to_string(result.offset);
        return std::nullopt;
    }
    pugi::xml_node root = doc.document_element();
    if (std::string_view(root.name()) == "plist")
        root = root.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; });
    if (!root) {
        if (error)
            *error = "property list holds no value";
        return std::nullopt;
    }
    Reader reader;
    auto value = reader.read(root, 0);
    if (!value && error)
        *error = reader.error;
    return value;
}

std::string Value::toPropertyList() const {
    pugi::xml_document doc;
    auto plist = doc.append_child("plist");
    plist.append_attribute("version").set_value(kVersion);
    write(plist, *this);
    std::ostringstream out;
    out << kDeclaration;
    doc.save(out, "\t", pugi::format_indent | pugi::format_no_declaration, pugi::encoding_utf8);
    return out.str();
}

bool isPropertyListValue(const Value& value) {
    switch (value.type()) {
    case Value::Type::Null:
        return false;
    case Value::Type::Array:
        for (const auto& e : *value.array())
            if (!isPropertyListValue(e))
                return false;
        return true;
    case Value::Type::Dictionary:
        for (const auto& [k, e] : *value.dictionary())
            if (!isPropertyListValue(e))
                return false;
        return true;
    default:
        return true;
    }
}

std::optional<Value> readPropertyListFile(const std::filesystem::path& path, Error* error) {
    // Writes of this file cut short by a crash leave their temporaries beside it: they go now.
    FileManager::removeStaleTemporaries(path);
    auto text = FileManager::stringWithContentsOfFile(path, kMaxPropertyListFileBytes, error);
    if (!text)
        return std::nullopt;
    std::string message;
    auto value = Value::fromPropertyList(*text, &message);
    if (!value && error) {
        error->domain = kPropertyListErrorDomain;
        error->code = kPropertyListReadCorrupt;
        error->localizedDescription = "The property list \"" + path.string() + "\" is unreadable: " + message;
        error->userInfo = Dictionary{{"path", Value(path.string())}};
    }
    return value;
}

bool writePropertyListFile(const std::filesystem::path& path, const Value& value, Error* error) {
    if (!isPropertyListValue(value)) {
        if (error) {
            error->domain = kPropertyListErrorDomain;
            error->code = kPropertyListNotWritable;
            error->localizedDescription =
                "A property list cannot hold a null value (\"" + path.string() + "\")";
            error->userInfo = Dictionary{{"path", Value(path.string())}};
        }
        return false;
    }
    return FileManager::writeAtomically(path, value.toPropertyList(), error);
}

} // namespace platform
