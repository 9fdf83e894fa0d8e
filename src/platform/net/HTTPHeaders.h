#pragma once
// The header fields of an HTTP request or response. Names compare without regard to case, as
// HTTP says; each name appears once, and a field added twice holds both values joined by ", "
// (as the platform presents repeated response fields). The first spelling of a name is kept
// for sending and listing. A plain value, safe to copy between threads.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class HTTPHeaders {
  public:
    using Field = std::pair<std::string, std::string>;

    // Replaces any value of `name`.
    void set(std::string_view name, std::string_view value);
    // Appends to an existing value with ", ", or adds the field.
    void add(std::string_view name, std::string_view value);
    void remove(std::string_view name);
    // The value of `name`, whatever its case; nullopt when absent.
    std::optional<std::string> value(std::string_view name) const;
    bool contains(std::string_view name) const { return find(name) != nullptr; }

    const std::vector<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }

    friend bool operator==(const HTTPHeaders&, const HTTPHeaders&) = default;

  private:
    const Field* find(std::string_view name) const;
    Field* find(std::string_view name);
    std::vector<Field> fields_;
};

} // namespace platform
