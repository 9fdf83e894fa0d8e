#pragma once
// The writer, reader and description shared by every wire struct, driven by each struct's
// field table (wire::Schema<S>, defined next to the struct in its .cpp file):
//
//     template <> struct wire::Schema<MRStringData> {
//         static constexpr const char* kName = "MRStringData";
//         static constexpr auto kFields = std::tuple{
//             Field<&MRStringData::key_>{1, "key"},
//             Field<&MRStringData::value_>{2, "value"},
//         };
//     };
//
// The order of the table is the declaration order: the order fields are written and
// described in. The Thrift type of each field follows from its C++ type (WireKind below).
//
// Reading rule: a field is stored only when its whole value was read. A value that the
// end of the data cuts (a number, a string, a list, a map, or a nested struct that lacks its
// stop byte) leaves the field as it was, so no half-read value reaches the caller. A field
// whose id is unknown, or whose type code differs from its declared type, is skipped; so is
// a non-empty list or map whose element types differ from the declared ones.
//
// Internal to the tracking library: include it only from .cpp files.
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/archive/KeyedArchiver.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/WireTypes.h"

namespace vellum::wire {

using apache::thrift::protocol::TType;

// A column of a field table: the member that holds the field, its id and its name.
template <auto Member> struct Field {
    std::int16_t id;
    const char* name;
};

template <typename C, typename T> T fieldValueType(WireField<T> C::*);
template <auto Member> constexpr auto memberOf(const Field<Member>&) {
    return Member;
}
template <auto Member> using FieldValue = decltype(fieldValueType(Member));

template <typename T> constexpr bool kIsWireStruct = requires(const T& s, TBinaryProtocol& p) {
    s.write(p);
};

// The Thrift type of each kind of C++ field value.
template <typename T> struct WireKind;
template <> struct WireKind<bool> { static constexpr TType kType = apache::thrift::protocol::T_BOOL; };
template <> struct WireKind<std::int16_t> { static constexpr TType kType = apache::thrift::protocol::T_I16; };
template <> struct WireKind<std::int32_t> { static constexpr TType kType = apache::thrift::protocol::T_I32; };
template <> struct WireKind<std::int64_t> { static constexpr TType kType = apache::thrift::protocol::T_I64; };
template <> struct WireKind<double> { static constexpr TType kType = apache::thrift::protocol::T_DOUBLE; };
template <> struct WireKind<std::string> {
    static constexpr TType kType = apache::thrift::protocol::T_STRING;
};
template <> struct WireKind<String> { static constexpr TType kType = apache::thrift::protocol::T_STRING; };
template <typename E> struct WireKind<std::optional<std::vector<E>>> {
    static constexpr TType kType = apache::thrift::protocol::T_LIST;
};
template <typename V> struct WireKind<std::optional<std::map<std::string, V>>> {
    static constexpr TType kType = apache::thrift::protocol::T_MAP;
};
template <typename S>
requires kIsWireStruct<S>
struct WireKind<S> {
    static constexpr TType kType = apache::thrift::protocol::T_STRUCT;
};
template <typename S>
requires kIsWireStruct<S>
struct WireKind<std::optional<S>> {
    static constexpr TType kType = apache::thrift::protocol::T_STRUCT;
};

// Elements of lists and keys and values of maps: plain strings, i16 numbers or structs.
template <typename T> constexpr TType kElementType = WireKind<T>::kType;

// ---- Writing ----

inline void writeElement(TBinaryProtocol& p, const std::string& s) {
    p.writeString(s);
}
inline void writeElement(TBinaryProtocol& p, std::int16_t v) {
    p.writeI16(v);
}
template <typename S>
requires kIsWireStruct<S>
void writeElement(TBinaryProtocol& p, const S& s) {
    s.write(p);
}

inline void writeValue(TBinaryProtocol& p, bool v) {
    p.writeBool(v);
}
inline void writeValue(TBinaryProtocol& p, std::int16_t v) {
    p.writeI16(v);
}
inline void writeValue(TBinaryProtocol& p, std::int32_t v) {
    p.writeI32(v);
}
inline void writeValue(TBinaryProtocol& p, std::int64_t v) {
    p.writeI64(v);
}
inline void writeValue(TBinaryProtocol& p, double v) {
    p.writeDouble(v);
}
inline void writeValue(TBinaryProtocol& p, const String& v) {
    p.writeString(*v);
}
template <typename E> void writeValue(TBinaryProtocol& p, const std::optional<std::vector<E>>& list) {
    p.writeListBegin(kElementType<E>, static_cast<std::uint32_t>(list->size()));
    for (const auto& e : *list)
        writeElement(p, e);
    p.writeListEnd();
}
template <typename V>
void writeValue(TBinaryProtocol& p, const std::optional<std::map<std::string, V>>& map) {
    p.writeMapBegin(apache::thrift::protocol::T_STRING, kElementType<V>,
                    static_cast<std::uint32_t>(map->size()));
    for (const auto& [key, value] : *map) {
        p.writeString(key);
        writeElement(p, value);
    }
    p.writeMapEnd();
}
template <typename S>
requires kIsWireStruct<S>
void writeValue(TBinaryProtocol& p, const std::optional<S>& s) {
    s->write(p);
}

template <typename S, auto Member>
void writeField(TBinaryProtocol& p, const S& s, const Field<Member>& field) {
    const auto& f = s.*Member;
    if (!f.isSet)
        return;
    using V = FieldValue<Member>;
    if constexpr (requires { f.value.has_value(); }) {
        if (!f.value) // set but nil
            return;
    }
    if constexpr (std::is_arithmetic_v<V>) {
        p.writeFixedField(WireKind<V>::kType, field.id, f.value);
    } else if constexpr (std::is_same_v<V, String>) {
        p.writeStringField(field.id, *f.value);
    } else {
        p.writeFieldBegin(field.name, WireKind<V>::kType, field.id);
        writeValue(p, f.value);
        p.writeFieldEnd();
    }
}

template <typename S> void writeStruct(TBinaryProtocol& p, const S& s) {
    p.writeStructBegin(Schema<S>::kName);
    std::apply([&](const auto&... field) { (writeField(p, s, field), ...); }, Schema<S>::kFields);
    p.writeFieldStop();
    p.writeStructEnd();
}

// ---- Reading ----

inline void readElement(TBinaryProtocol& p, std::string& s) {
    p.readString(s);
}
inline void readElement(TBinaryProtocol& p, std::int16_t& v) {
    p.readI16(v);
}
template <typename S>
requires kIsWireStruct<S>
void readElement(TBinaryProtocol& p, S& s) {
    s.read(p);
}

// Each readValue answers false when the value could not be taken (cut by the end of the
// data, or a container of other element types, which has then been skipped).
inline bool readValue(TBinaryProtocol& p, bool& v) {
    return p.readBool(v), !p.readError();
}
inline bool readValue(TBinaryProtocol& p, std::int16_t& v) {
    return p.readI16(v), !p.readError();
}
inline bool readValue(TBinaryProtocol& p, std::int32_t& v) {
    return p.readI32(v), !p.readError();
}
inline bool readValue(TBinaryProtocol& p, std::int64_t& v) {
    return p.readI64(v), !p.readError();
}
inline bool readValue(TBinaryProtocol& p, double& v) {
    return p.readDouble(v), !p.readError();
}
inline bool readValue(TBinaryProtocol& p, String& v) {
    v.emplace();
    p.readString(*v);
    return !p.readError();
}

// Reserving is capped so that a count alone never commits much memory; the vector still
// grows to any size the data actually holds.
inline constexpr std::uint32_t kMaxReservedElements = 4096;

template <typename E> bool readValue(TBinaryProtocol& p, std::optional<std::vector<E>>& list) {
    TType elemType{};
    std::uint32_t size = 0;
    p.readListBegin(elemType, size);
    if (p.readError())
        return false;
    if (size > 0 && elemType != kElementType<E>) {
        for (std::uint32_t i = 0; i < size && !p.readError(); ++i)
            p.skip(elemType);
        return false;
    }
    auto& elements = list.emplace();
    elements.reserve(std::min(size, kMaxReservedElements));
    for (std::uint32_t i = 0; i < size; ++i) {
        readElement(p, elements.emplace_back());
        if (p.readError())
            return false;
    }
    p.readListEnd();
    return true;
}

template <typename V> bool readValue(TBinaryProtocol& p, std::optional<std::map<std::string, V>>& map) {
    TType keyType{}, valueType{};
    std::uint32_t size = 0;
    p.readMapBegin(keyType, valueType, size);
    if (p.readError())
        return false;
    if (size > 0 && (keyType != apache::thrift::protocol::T_STRING || valueType != kElementType<V>)) {
        for (std::uint32_t i = 0; i < size && !p.readError(); ++i) {
            p.skip(keyType);
            p.skip(valueType);
        }
        return false;
    }
    auto& entries = map.emplace();
    for (std::uint32_t i = 0; i < size; ++i) {
        std::string key;
        V value{};
        p.readString(key);
        readElement(p, value);
        if (p.readError())
            return false;
        entries.insert_or_assign(std::move(key), std::move(value)); // a repeated key: the later wins
    }
    p.readMapEnd();
    return true;
}

template <typename S>
requires kIsWireStruct<S>
bool readValue(TBinaryProtocol& p, std::optional<S>& s) {
    s.emplace().read(p);
    // A nested struct is whole only when its stop byte was read.
    return !p.readError();
}

// Reads the value of one field whose id and type matched. An object field that is unset
// (so holds nil) is read in place, and cleared again if the value is cut; otherwise the value
// is read aside and stored only when whole, so the field keeps its state when it is cut.
template <typename S, auto Member> void readFieldValue(TBinaryProtocol& p, S& s) {
    using V = FieldValue<Member>;
    auto& field = s.*Member;
    if constexpr (requires { field.value.reset(); }) {
        if (!field.isSet) {
            if (readValue(p, field.value))
                field.isSet = true;
            else
                field.value.reset();
            return;
        }
    }
    V value{};
    if (readValue(p, value))
        field.set(std::move(value));
}

// The field readers of a struct, indexed by field id: a switch over the ids, built from the
// field table. Each answers false when the type on the wire is not the field's type.
template <typename S> struct FieldReaders {
    using Reader = bool (*)(TBinaryProtocol&, S&, TType);
    static constexpr auto& kFields = Schema<S>::kFields;
    static constexpr std::size_t kCount = std::tuple_size_v<std::remove_cvref_t<decltype(kFields)>>;

    template <std::size_t I> static bool readAt(TBinaryProtocol& p, S& s, TType type) {
        constexpr auto member = memberOf(std::get<I>(kFields));
        using V = FieldValue<member>;
        if (type != WireKind<V>::kType)
            return false; // same id, other type: skipped by the caller
        readFieldValue<S, member>(p, s);
        return true;
    }

    static constexpr std::int16_t kMaxId = [] {
        std::int16_t max = 0;
        std::apply([&](const auto&... f) { ((max = f.id > max ? f.id : max), ...); }, kFields);
        return max;
    }();

    static constexpr std::array<Reader, kMaxId + 1> kById = []<std::size_t... I>(std::index_sequence<I...>) {
        std::array<Reader, kMaxId + 1> table{};
        ((table[std::get<I>(kFields).id] = &readAt<I>), ...);
        return table;
    }
    (std::make_index_sequence<kCount>{});
};

template <typename S> void readStruct(TBinaryProtocol& p, S& s) {
    using Readers = FieldReaders<S>;
    std::string name;
    p.readStructBegin(name);
    for (;;) {
        TType type{};
        std::int16_t id = 0;
        p.readFieldBegin(name, type, id);
        if (type == apache::thrift::protocol::T_STOP)
            break;
        const auto reader = id >= 0 && id <= Readers::kMaxId ? Readers::kById[id] : nullptr;
        if (!reader || !reader(p, s, type))
            p.skip(type); // unknown id, or a known id with another type
        p.readFieldEnd();
    }
    p.readStructEnd();
}

// ---- Description ----

inline constexpr const char* kNil = "(null)";

inline void describeValue(std::string& out, bool v) {
    out += v ? "1" : "0";
}
inline void describeValue(std::string& out, std::int16_t v) {
    out += std::to_string(v);
}
inline void describeValue(std::string& out, std::int32_t v) {
    out += std::to_string(v);
}
inline void describeValue(std::string& out, std::int64_t v) {
    out += std::to_string(v);
}
// "%f", as std::to_string writes a double.
inline void describeValue(std::string& out, double v) {
    out += std::to_string(v);
}
inline void describeValue(std::string& out, const String& v) {
    out += '"';
    out += v ? *v : kNil;
    out += '"';
}

inline void describeElement(std::string& out, const std::string& s) {
    out += '"';
    out += s;
    out += '"';
}
inline void describeElement(std::string& out, std::int16_t v) {
    out += std::to_string(v);
}
template <typename S>
requires kIsWireStruct<S>
void describeElement(std::string& out, const S& s) {
    out += s.description();
}

template <typename E> void describeValue(std::string& out, const std::optional<std::vector<E>>& list) {
    if (!list) {
        out += kNil;
        return;
    }
    out += '(';
    for (std::size_t i = 0; i < list->size(); ++i) {
        if (i)
            out += ", ";
        describeElement(out, (*list)[i]);
    }
    out += ')';
}
template <typename V>
void describeValue(std::string& out, const std::optional<std::map<std::string, V>>& map) {
    if (!map) {
        out += kNil;
        return;
    }
    out += '{';
    for (const auto& [key, value] : *map) {
        describeElement(out, key);
        out += " = ";
        describeElement(out, value);
        out += "; ";
    }
    out += '}';
}
template <typename S>
requires kIsWireStruct<S>
void describeValue(std::string& out, const std::optional<S>& s) {
    out += s ? s->description() : kNil;
}

template <typename S, auto Member>
void describeField(std::string& out, const S& s, const Field<Member>& field, bool& first) {
    if (!first)
        out += ',';
    first = false;
    out += field.name;
    out += ':';
    describeValue(out, (s.*Member).value);
}

template <typename S> std::string describeStruct(const S& s) {
    std::string out = Schema<S>::kName;
    out += '(';
    bool first = true;
    std::apply([&](const auto&... field) { (describeField(out, s, field, first), ...); }, Schema<S>::kFields);
    out += ')';
    return out;
}

// ---- Equality ----

template <typename S> bool sameFields(const S& a, const S& b) {
    return std::apply(
        [&](const auto&... field) { return ((a.*memberOf(field) == b.*memberOf(field)) && ...); },
        Schema<S>::kFields);
}

// ---- Keyed coding ----
//
// A field's value as a keyed archive holds it: numbers and flags as numbers, strings as
// texts, lists as arrays, maps as dictionaries, nested structs as dictionaries of their set
// fields; nil as a null value.

using platform::ArchivedValue;

inline ArchivedValue archivedValue(bool v) {
    return ArchivedValue(v);
}
template <typename I>
requires(std::is_integral_v<I> && !std::is_same_v<I, bool>) ArchivedValue archivedValue(I v) {
    return ArchivedValue(static_cast<long long>(v));
}
inline ArchivedValue archivedValue(double v) {
    return ArchivedValue(v);
}
inline ArchivedValue archivedValue(const std::string& v) {
    return ArchivedValue(v);
}
inline ArchivedValue archivedValue(const String& v) {
    return v ? ArchivedValue(*v) : ArchivedValue();
}
template <typename S>
requires kIsWireStruct<S> ArchivedValue archivedValue(const S& s) {
    return ArchivedValue(s.keyedFields());
}
template <typename E> ArchivedValue archivedValue(const std::optional<std::vector<E>>& list) {
    if (!list)
        return {};
    platform::ArchivedArray out;
    out.reserve(list->size());
    for (const auto& e : *list)
        out.push_back(archivedValue(e));
    return ArchivedValue(std::move(out));
}
template <typename V> ArchivedValue archivedValue(const std::optional<std::map<std::string, V>>& map) {
    if (!map)
        return {};
    platform::ArchivedDictionary out;
    for (const auto& [key, value] : *map)
        out.emplace(key, archivedValue(value));
    return ArchivedValue(std::move(out));
}
template <typename S>
requires kIsWireStruct<S> ArchivedValue archivedValue(const std::optional<S>& s) {
    return s ? archivedValue(*s) : ArchivedValue();
}

// Each fromArchived answers false, leaving `out` to be dropped, when the archived value is
// not of the field's kind (a text for a number, a number out of the field's range, a list
// with one element of another kind).
inline bool fromArchived(const ArchivedValue& v, bool& out) {
    auto b = v.boolean();
    if (b)
        out = *b;
    return b.has_value();
}
template <typename I>
requires(std::is_integral_v<I> && !std::is_same_v<I, bool>) bool fromArchived(const ArchivedValue& v,
                                                                              I& out) {
    auto i = v.integer();
    if (!i || *i < std::numeric_limits<I>::min() || *i > std::numeric_limits<I>::max())
        return false;
    out = static_cast<I>(*i);
    return true;
}
inline bool fromArchived(const ArchivedValue& v, double& out) {
    auto d = v.number();
    if (d)
        out = *d;
    return d.has_value();
}
inline bool fromArchived(const ArchivedValue& v, std::string& out) {
    const std::string* s = v.string();
    if (s)
        out = *s;
    return s != nullptr;
}
inline bool fromArchived(const ArchivedValue& v, String& out) {
    if (v.isNull()) {
        out.reset();
        return true;
    }
    return fromArchived(v, out.emplace());
}
template <typename S>
requires kIsWireStruct<S>
bool fromArchived(const ArchivedValue& v, S& out) {
    const auto* fields = v.dictionary();
    if (fields)
        out.setKeyedFields(*fields);
    return fields != nullptr;
}
template <typename E> bool fromArchived(const ArchivedValue& v, std::optional<std::vector<E>>& out) {
    if (v.isNull()) {
        out.reset();
        return true;
    }
    const auto* array = v.array();
    if (!array)
        return false;
    auto& elements = out.emplace();
    elements.reserve(array->size());
    for (const auto& element : *array)
        if (!fromArchived(element, elements.emplace_back()))
            return false;
    return true;
}
template <typename V>
bool fromArchived(const ArchivedValue& v, std::optional<std::map<std::string, V>>& out) {
    if (v.isNull()) {
        out.reset();
        return true;
    }
    const auto* dictionary = v.dictionary();
    if (!dictionary)
        return false;
    auto& entries = out.emplace();
    for (const auto& [key, value] : *dictionary)
        if (!fromArchived(value, entries[key]))
            return false;
    return true;
}
template <typename S>
requires kIsWireStruct<S>
bool fromArchived(const ArchivedValue& v, std::optional<S>& out) {
    if (v.isNull()) {
        out.reset();
        return true;
    }
    return fromArchived(v, out.emplace());
}

// The member a column of a field table names, as a type-level constant.
template <typename F> struct ColumnOf;
template <auto Member> struct ColumnOf<Field<Member>> { static constexpr auto kMember = Member; };

template <typename S> platform::ArchivedDictionary keyedFieldsOf(const S& s) {
    platform::ArchivedDictionary out;
    auto encode = [&](const auto& field) {
        const auto& f = s.*memberOf(field);
        if (f.isSet)
            out.insert_or_assign(field.name, archivedValue(f.value));
    };
    std::apply([&](const auto&... field) { (encode(field), ...); }, Schema<S>::kFields);
    return out;
}

// Sets each field that `lookup(name)` finds (an optional ArchivedValue) with a value of the
// field's kind.
template <typename S, typename Lookup> void setKeyedFieldsOf(S& s, const Lookup& lookup) {
    auto decode = [&](const auto& field) {
        auto archived = lookup(field.name);
        if (!archived)
            return;
        FieldValue<ColumnOf<std::remove_cvref_t<decltype(field)>>::kMember> value{};
        if (fromArchived(*archived, value))
            (s.*memberOf(field)).set(std::move(value));
    };
    std::apply([&](const auto&... field) { (decode(field), ...); }, Schema<S>::kFields);
}

// A struct's keyed coding as a root or nested object of an archive: each set field under
// its name; read back into an empty struct.
template <typename S> void encodeWithCoder(const S& s, platform::KeyedArchiver& coder) {
    for (const auto& [key, value] : s.keyedFields())
        coder.encodeObject(value, key);
}
template <typename S> std::shared_ptr<S> initWithCoder(platform::KeyedUnarchiver& coder) {
    auto s = std::make_shared<S>();
    setKeyedFieldsOf(*s, [&](const char* name) -> std::optional<ArchivedValue> {
        if (!coder.containsValueForKey(name))
            return std::nullopt;
        return coder.decodeObjectForKey(name);
    });
    return s;
}

// ---- Designated initializers ----

template <typename S, auto Member, typename V> void setField(S& s, const Field<Member>&, V&& value) {
    (s.*Member).set(std::forward<V>(value));
}

// A struct with every field set to the given values, in table order (nil ones included).
template <typename S, typename... Values> S allSet(Values&&... values) {
    constexpr auto kCount = std::tuple_size_v<std::remove_cvref_t<decltype(Schema<S>::kFields)>>;
    static_assert(sizeof...(Values) == kCount, "one value per field, in declaration order");
    S s;
    auto args = std::forward_as_tuple(std::forward<Values>(values)...);
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (setField(s, std::get<I>(Schema<S>::kFields), std::get<I>(std::move(args))), ...);
    }
    (std::make_index_sequence<kCount>{});
    return s;
}

} // namespace vellum::wire

// Defines write, read and description of a struct from its field table.
#define VELLUM_WIRE_STRUCT_METHODS(Class)                                                                    \
    void Class::write(TBinaryProtocol& protocol) const {                                                     \
        wire::writeStruct(protocol, *this);                                                                  \
    }                                                                                                        \
    void Class::read(TBinaryProtocol& protocol) {                                                            \
        wire::readStruct(protocol, *this);                                                                   \
    }                                                                                                        \
    std::string Class::description() const {                                                                 \
        return wire::describeStruct(*this);                                                                  \
    }                                                                                                        \
    ::platform::ArchivedDictionary Class::keyedFields() const {                                              \
        return wire::keyedFieldsOf(*this);                                                                   \
    }                                                                                                        \
    void Class::setKeyedFields(const ::platform::ArchivedDictionary& fields) {                               \
        wire::setKeyedFieldsOf(*this, [&](const char* name) -> std::optional<::platform::ArchivedValue> {    \
            auto it = fields.find(std::string_view(name));                                                   \
            if (it == fields.end())                                                                          \
                return std::nullopt;                                                                         \
            return it->second;                                                                               \
        });                                                                                                  \
    }                                                                                                        \
    bool operator==(const Class& a, const Class& b) {                                                        \
        return wire::sameFields(a, b);                                                                       \
    }
