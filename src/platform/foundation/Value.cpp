#include "platform/foundation/Value.h"

#include "platform/foundation/Numbers.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace platform {

std::optional<Date> Value::date() const {
    if (auto d = std::get_if<Date>(&v_))
        return *d;
    return std::nullopt;
}

std::optional<double> Value::number() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::Integer: return static_cast<double>(std::get<std::int64_t>(v_));
    case Type::Real: return std::get<double>(v_);
    default: return std::nullopt;
    }
}

std::optional<std::int64_t> Value::integer() const {
    switch (type()) {
    case Type::Bool: return std::get<bool>(v_) ? 1 : 0;
    case Type::Integer: return std::get<std::int64_t>(v_);
    case Type::Real: {
        double d = std::get<double>(v_);
        if (!std::isfinite(d))
            return std::nullopt;
        return saturatingCast<std::int64_t>(d);
    }
    default: return std::nullopt;
    }
}

std::string Value::stringOr(std::string_view fallback) const {
    if (auto s = string())
        return *s;
    return std::string(fallback);
}

bool Value::boolOr(bool fallback) const {
    if (auto n = number())
        return *n != 0;
    return fallback;
}

const Value* Value::find(std::string_view key) const {
    auto d = dictionary();
    if (!d)
        return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
}

Value& Value::operator[](std::string_view key) {
    if (isNull())
        v_ = platform::Dictionary{};
    auto& d = std::get<platform::Dictionary>(v_);
    auto it = d.find(key);
    if (it == d.end())
        it = d.emplace(std::string(key), Value()).first;
    return it->second;
}

const Value* Value::at(std::size_t index) const {
    auto a = array();
    if (!a || index >= a->size())
        return nullptr;
    return &(*a)[index];
}

std::size_t Value::size() const {
    if (auto a = array())
        return a->size();
    if (auto d = dictionary())
        return d->size();
    return 0;
}

namespace {

// Builds a Value straight from the parser's events, without an intermediate document.
class ValueBuilder : public nlohmann::json_sax<nlohmann::json> {
public:
    Value result;
    std::string error;

    bool null() override { return put(Value()); }
    bool boolean(bool b) override { return put(Value(b)); }
    bool number_integer(number_integer_t i) override { return put(Value(static_cast<std::int64_t>(i))); }
    bool number_unsigned(number_unsigned_t u) override {
        if (u > static_cast<number_unsigned_t>(std::numeric_limits<std::int64_t>::max()))
            return put(Value(static_cast<double>(u)));
        return put(Value(static_cast<std::int64_t>(u)));
    }
    bool number_float(number_float_t f, const string_t&) override { return put(Value(f)); }
    bool string(string_t& s) override { return put(Value(std::move(s))); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override {
        if (stack_.size() >= kMaxDepth)
            return tooDeep();
        put(Value(Dictionary{}));
        stack_.push_back(last_);
        return true;
    }
    bool key(string_t& k) override {
        key_ = std::move(k);
        return true;
    }
    bool end_object() override {
        stack_.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        if (stack_.size() >= kMaxDepth)
            return tooDeep();
        put(Value(Array{}));
        stack_.push_back(last_);
        return true;
    }
    bool end_array() override {
        stack_.pop_back();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
        error = ex.what();
        return false;
    }

private:
    // Deeper documents are refused: nothing legitimate nests this far, and destroying
    // a deeper value would recurse without bound.
    static constexpr std::size_t kMaxDepth = 256;

    bool tooDeep() {
        error = "JSON nested too deeply";
        return false;
    }

    bool put(Value v) {
        if (stack_.empty()) {
            result = std::move(v);
            last_ = &result;
            return true;
        }
        Value* top = stack_.back();
        if (auto a = top->array()) {
            a->push_back(std::move(v));
            last_ = &a->back();
        } else {
            auto& d = *top->dictionary();
            // A repeated key keeps its last value, as the platform's parser does.
            auto [it, inserted] = d.insert_or_assign(std::move(key_), std::move(v));
            last_ = &it->second;
        }
        return true;
    }

    std::vector<Value*> stack_;
    Value* last_ = nullptr;
    std::string key_;
};

nlohmann::json toNlohmann(const Value& v) {
    switch (v.type()) {
    case Value::Type::Null: return nullptr;
    case Value::Type::Bool: return v.boolOr(false);
    case Value::Type::Integer: return *v.integer();
    case Value::Type::Real: {
        double d = *v.number();
        return std::isfinite(d) ? nlohmann::json(d) : nlohmann::json(nullptr);
    }
    case Value::Type::String: return *v.string();
    case Value::Type::Data: return std::string(v.data()->begin(), v.data()->end());
    case Value::Type::Date: return v.date()->secondsSince1970;
    case Value::Type::Array: {
        auto out = nlohmann::json::array();
        for (const auto& e : *v.array())
            out.push_back(toNlohmann(e));
        return out;
    }
    case Value::Type::Dictionary: {
        auto out = nlohmann::json::object();
        for (const auto& [k, e] : *v.dictionary())
            out[k] = toNlohmann(e);
        return out;
    }
    }
    return nullptr;
}

} // namespace

std::optional<Value> Value::fromJSON(std::string_view text, std::string* error) {
    // The JSON reader takes a NUL byte for the end of the text. Trailing NULs (a padded
    // buffer) may end it; anything after one is more text, which strict JSON refuses.
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        if (text.find_first_not_of('\0', nul) != std::string_view::npos) {
            if (error)
                *error = "text after a NUL byte";
            return std::nullopt;
        }
    }
    ValueBuilder builder;
    bool ok = nlohmann::json::sax_parse(text.begin(), text.end(), &builder, nlohmann::json::input_format_t::json,
                                        /*strict=*/true);
    if (!ok) {
        if (error)
            *error = builder.error.empty() ? "malformed JSON" : builder.error;
        return std::nullopt;
    }
    return std::move(builder.result);
}

std::string Value::toJSON() const {
    // Invalid UTF-8 in a string is replaced rather than thrown on.
    return toNlohmann(*this).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace platform
