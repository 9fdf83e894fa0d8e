#include "platform/archive/KeyedArchiver.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/Log.h"

namespace platform {
namespace {

// Layout (integers little-endian):
//   "FWKA" version:u8 objectCount:u32
//   objectCount x { className:str entryCount:u32 entryCount x { key:str value } }
//   root:u32 crc32:u32 (of every byte before it)
// A colour is its red, green, blue and alpha components (f64) and its space (u8).
// where str = length:u32 bytes, and a value is a tag byte followed by its payload.
constexpr char kMagic[4] = {'F', 'W', 'K', 'A'};
constexpr std::uint8_t kFormatVersion = 1;
constexpr std::size_t kHeaderBytes = sizeof(kMagic) + 1 + 4;
constexpr std::size_t kTrailerBytes = 4 + 4;
// Arrays and dictionaries nested deeper than this, or objects nested deeper than this while
// being rebuilt, make the archive unreadable rather than exhaust the stack.
constexpr int kMaximumNesting = 64;
// Rebuilding reads each object at most once, but a class may read a key as often as it likes:
// the values handed out while reading one archive are capped at this many per value parsed
// (plus a floor for tiny archives). An archive that needs more is unreadable.
constexpr std::uint64_t kReadsPerParsedValue = 64;
constexpr std::uint64_t kMinimumValueReads = 1u << 16;

// A colour's space, after its four components.
constexpr std::uint8_t kRGBSpace = 0;
constexpr std::uint8_t kGreySpace = 1;

enum Tag : std::uint8_t {
    kNull = 0,
    kFalse = 1,
    kTrue = 2,
    kInteger = 3,
    kReal = 4,
    kString = 5,
    kData = 6,
    kDate = 7,
    kURL = 8,
    kColor = 9,
    kFont = 10,
    kArray = 11,
    kDictionary = 12,
    kObject = 13,
};

// ---- Writing ----

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void putU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void putDouble(std::string& out, double d) { putU64(out, std::bit_cast<std::uint64_t>(d)); }
void putBytes(std::string& out, const void* bytes, std::size_t n) {
    putU32(out, static_cast<std::uint32_t>(n));
    out.append(static_cast<const char*>(bytes), n);
}
void putString(std::string& out, std::string_view s) { putBytes(out, s.data(), s.size()); }

std::uint32_t crcOf(const char* bytes, std::size_t n) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes lengths as uInt: feed large buffers in pieces.
    while (n > 0) {
        const uInt piece = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes), piece);
        bytes += piece;
        n -= piece;
    }
    return static_cast<std::uint32_t>(crc);
}

// ---- Reading: a parsed, checked archive ----

struct Node;
using NodeArray = std::vector<Node>;
using NodeDictionary = std::map<std::string, Node, std::less<>>;
struct ObjectRef {
    std::uint32_t index = 0;
};
struct Node {
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Data, Date, URL, Color, Font, NodeArray,
                 NodeDictionary, ObjectRef>
        v;
};

class Reader {
public:
    Reader(const std::uint8_t* bytes, std::size_t size) : p_(bytes), end_(bytes + size) {}
    bool ok() const { return ok_; }
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }

    std::uint8_t u8() {
        if (!need(1))
            return 0;
        return *p_++;
    }
    std::uint32_t u32() {
        if (!need(4))
            return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t{p_[i]} << (8 * i);
        p_ += 4;
        return v;
    }
    std::uint64_t u64() {
        if (!need(8))
            return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= std::uint64_t{p_[i]} << (8 * i);
        p_ += 8;
        return v;
    }
    double real() { return std::bit_cast<double>(u64()); }
    std::string string() {
        const std::uint32_t n = u32();
        if (!need(n))
            return {};
        std::string s(reinterpret_cast<const char*>(p_), n);
        p_ += n;
        return s;
    }
    Data data() {
        const std::uint32_t n = u32();
        if (!need(n))
            return {};
        Data d(p_, p_ + n);
        p_ += n;
        return d;
    }
    // A count of items that take at least `minimumItemBytes` each: never more than the bytes
    // left can hold.
    std::uint32_t count(std::size_t minimumItemBytes) {
        const std::uint32_t n = u32();
        if (ok_ && n > remaining() / minimumItemBytes)
            ok_ = false;
        return ok_ ? n : 0;
    }
    void fail() { ok_ = false; }

    // Values parsed so far, nested ones included.
    std::uint64_t valuesParsed() const { return values_; }

    Node value(int depth) {
        Node node;
        ++values_;
        if (depth > kMaximumNesting) {
            fail();
            return node;
        }
        switch (u8()) {
        case kNull:
            break;
        case kFalse:
            node.v = false;
            break;
        case kTrue:
            node.v = true;
            break;
        case kInteger:
            node.v = static_cast<std::int64_t>(u64());
            break;
        case kReal:
            node.v = real();
            break;
        case kString:
            node.v = string();
            break;
        case kData:
            node.v = data();
            break;
        case kDate:
            node.v = Date{real()};
            break;
        case kURL: {
            auto url = URL::parse(string());
            if (!url)
                fail();
            else
                node.v = std::move(*url);
            break;
        }
        case kColor: {
            Color c;
            c.red = real();
            c.green = real();
            c.blue = real();
            c.alpha = real();
            const std::uint8_t space = u8();
            if (space == kGreySpace)
                c.space = ColorSpaceModel::Monochrome;
            else if (space != kRGBSpace)
                fail();
            node.v = c;
            break;
        }
        case kFont: {
            Font f;
            f.name = string();
            f.pointSize = real();
            f.bold = u8() != 0;
            node.v = std::move(f);
            break;
        }
        case kArray: {
            NodeArray items;
            const std::uint32_t n = count(1);
            items.reserve(n);
            for (std::uint32_t i = 0; i < n && ok_; ++i)
                items.push_back(value(depth + 1));
            node.v = std::move(items);
            break;
        }
        case kDictionary: {
            NodeDictionary entries;
            const std::uint32_t n = count(5);
            for (std::uint32_t i = 0; i < n && ok_; ++i) {
                std::string key = string();
                entries.insert_or_assign(std::move(key), value(depth + 1));
            }
            node.v = std::move(entries);
            break;
        }
        case kObject:
            node.v = ObjectRef{u32()};
            break;
        default:
            fail();
        }
        return node;
    }

private:
    bool need(std::size_t n) {
        if (!ok_ || remaining() < n) {
            ok_ = false;
            return false;
        }
        return true;
    }
    const std::uint8_t* p_;
    const std::uint8_t* end_;
    bool ok_ = true;
    std::uint64_t values_ = 0;
};

struct ParsedObject {
    std::string className;
    NodeDictionary entries;
};

bool refsInRange(const Node& node, std::size_t objectCount) {
    if (auto ref = std::get_if<ObjectRef>(&node.v))
        return ref->index < objectCount;
    if (auto items = std::get_if<NodeArray>(&node.v)) {
        for (const auto& item : *items)
            if (!refsInRange(item, objectCount))
                return false;
    } else if (auto entries = std::get_if<NodeDictionary>(&node.v)) {
        for (const auto& [key, item] : *entries)
            if (!refsInRange(item, objectCount))
                return false;
    }
    return true;
}

} // namespace

// ---- ArchivedValue ----

ArchivedValue ArchivedValue::fromValue(const Value& value) {
    switch (value.type()) {
    case Value::Type::Null:
        return {};
    case Value::Type::Bool:
        return ArchivedValue(value.boolOr(false));
    case Value::Type::Integer:
        return ArchivedValue(static_cast<long long>(value.intOr(0)));
    case Value::Type::Real:
        return ArchivedValue(value.doubleOr(0));
    case Value::Type::String:
        return ArchivedValue(*value.string());
    case Value::Type::Data:
        return ArchivedValue(*value.data());
    case Value::Type::Date:
        return ArchivedValue(*value.date());
    case Value::Type::Array: {
        ArchivedArray items;
        for (const auto& item : *value.array())
            items.push_back(fromValue(item));
        return ArchivedValue(std::move(items));
    }
    case Value::Type::Dictionary: {
        ArchivedDictionary entries;
        for (const auto& [key, item] : *value.dictionary())
            entries.emplace(key, fromValue(item));
        return ArchivedValue(std::move(entries));
    }
    }
    return {};
}

std::optional<double> ArchivedValue::number() const {
    if (auto b = std::get_if<bool>(&v_))
        return *b ? 1.0 : 0.0;
    if (auto i = std::get_if<std::int64_t>(&v_))
        return static_cast<double>(*i);
    if (auto d = std::get_if<double>(&v_))
        return *d;
    return std::nullopt;
}

std::optional<std::int64_t> ArchivedValue::integer() const {
    if (auto i = std::get_if<std::int64_t>(&v_))
        return *i;
    if (auto b = std::get_if<bool>(&v_))
        return *b ? 1 : 0;
    if (auto d = std::get_if<double>(&v_)) {
        // Out-of-range and non-finite reals have no integer value.
        if (!std::isfinite(*d) || *d >= 9.2e18 || *d <= -9.2e18)
            return std::nullopt;
        return static_cast<std::int64_t>(*d);
    }
    return std::nullopt;
}

std::optional<bool> ArchivedValue::boolean() const {
    if (auto b = std::get_if<bool>(&v_))
        return *b;
    if (auto n = number())
        return *n != 0;
    return std::nullopt;
}

std::optional<Date> ArchivedValue::date() const {
    if (auto d = std::get_if<Date>(&v_))
        return *d;
    return std::nullopt;
}

std::optional<Color> ArchivedValue::color() const {
    if (auto c = std::get_if<Color>(&v_))
        return *c;
    return std::nullopt;
}

std::shared_ptr<const Coding> ArchivedValue::object() const {
    if (auto o = std::get_if<std::shared_ptr<const Coding>>(&v_))
        return *o;
    return nullptr;
}

// ---- CodingClasses ----

CodingClasses& CodingClasses::add(std::string name, Factory factory) {
    factories_.insert_or_assign(std::move(name), std::move(factory));
    return *this;
}

const CodingClasses::Factory* CodingClasses::find(std::string_view name) const {
    auto it = factories_.find(name);
    return it == factories_.end() ? nullptr : &it->second;
}

// ---- KeyedArchiver ----

struct KeyedArchiver::State {
    struct Object {
        std::string className;
        std::uint32_t entryCount = 0;
        std::string entries;
    };
    std::vector<Object> objects;
    std::unordered_map<const Coding*, std::uint32_t> indexOf;
    // Held until the archive is written, so no address in indexOf is reused by a new object.
    std::vector<std::shared_ptr<const Coding>> keptAlive;
    // Objects are encoded depth-first; each encode call writes into the innermost one.
    std::vector<std::uint32_t> encoding;

    std::uint32_t add(const Coding& object) {
        if (auto it = indexOf.find(&object); it != indexOf.end())
            return it->second;
        const auto index = static_cast<std::uint32_t>(objects.size());
        indexOf.emplace(&object, index);
        objects.push_back(Object{std::string(object.codingClassName()), 0, {}});
        encoding.push_back(index);
        KeyedArchiver coder(*this);
        object.encodeWithCoder(coder);
        encoding.pop_back();
        return index;
    }

    void write(std::string& out, const ArchivedValue& value) {
        struct Visitor {
            State& state;
            std::string& out;
            void operator()(const std::monostate&) { out.push_back(static_cast<char>(kNull)); }
            void operator()(bool b) { out.push_back(static_cast<char>(b ? kTrue : kFalse)); }
            void operator()(std::int64_t i) {
                out.push_back(static_cast<char>(kInteger));
                putU64(out, static_cast<std::uint64_t>(i));
            }
            void operator()(double d) {
                out.push_back(static_cast<char>(kReal));
                putDouble(out, d);
            }
            void operator()(const std::string& s) {
                out.push_back(static_cast<char>(kString));
                putString(out, s);
            }
            void operator()(const Data& d) {
                out.push_back(static_cast<char>(kData));
                putBytes(out, d.data(), d.size());
            }
            void operator()(const Date& d) {
                out.push_back(static_cast<char>(kDate));
                putDouble(out, d.secondsSince1970);
            }
            void operator()(const URL& u) {
                out.push_back(static_cast<char>(kURL));
                putString(out, u.absoluteString());
            }
            void operator()(const Color& c) {
                out.push_back(static_cast<char>(kColor));
                for (double component : {c.red, c.green, c.blue, c.alpha})
                    putDouble(out, component);
                out.push_back(static_cast<char>(c.space == ColorSpaceModel::Monochrome ? kGreySpace : kRGBSpace));
            }
            void operator()(const Font& f) {
                out.push_back(static_cast<char>(kFont));
                putString(out, f.name);
                putDouble(out, f.pointSize);
                out.push_back(static_cast<char>(f.bold ? 1 : 0));
            }
            void operator()(const ArchivedArray& items) {
                out.push_back(static_cast<char>(kArray));
                putU32(out, static_cast<std::uint32_t>(items.size()));
                for (const auto& item : items)
                    state.write(out, item);
            }
            void operator()(const ArchivedDictionary& entries) {
                out.push_back(static_cast<char>(kDictionary));
                putU32(out, static_cast<std::uint32_t>(entries.size()));
                for (const auto& [key, item] : entries) {
                    putString(out, key);
                    state.write(out, item);
                }
            }
            void operator()(const std::shared_ptr<const Coding>& object) {
                // The nested object is encoded into its own record before this reference.
                state.keptAlive.push_back(object);
                const std::uint32_t index = state.add(*object);
                out.push_back(static_cast<char>(kObject));
                putU32(out, index);
            }
        };
        std::visit(Visitor{*this, out}, value.v_);
    }

    void entry(std::string_view key, const ArchivedValue& value) {
        if (encoding.empty())
            return;
        std::string bytes;
        write(bytes, value); // may add nested objects, so the target is looked up after
        Object& target = objects[encoding.back()];
        putString(target.entries, key);
        target.entries += bytes;
        ++target.entryCount;
    }

    std::string finish(std::uint32_t root) const {
        std::string out(kMagic, sizeof(kMagic));
        out.push_back(static_cast<char>(kFormatVersion));
        putU32(out, static_cast<std::uint32_t>(objects.size()));
        for (const auto& object : objects) {
            putString(out, object.className);
            putU32(out, object.entryCount);
            out += object.entries;
        }
        putU32(out, root);
        putU32(out, crcOf(out.data(), out.size()));
        return out;
    }
};

Data KeyedArchiver::archivedDataWithRootObject(const Coding& root) {
    State state;
    const std::uint32_t index = state.add(root);
    std::string bytes = state.finish(index);
    return Data(bytes.begin(), bytes.end());
}

bool KeyedArchiver::archiveRootObject(const Coding& root, const std::filesystem::path& path, Error* error) {
    return FileManager::writeAtomically(path, archivedDataWithRootObject(root), error);
}

void KeyedArchiver::encodeObject(const ArchivedValue& value, std::string_view key) { state_.entry(key, value); }
void KeyedArchiver::encodeBool(bool value, std::string_view key) { state_.entry(key, ArchivedValue(value)); }
void KeyedArchiver::encodeInteger(std::int64_t value, std::string_view key) {
    state_.entry(key, ArchivedValue(static_cast<long long>(value)));
}
void KeyedArchiver::encodeDouble(double value, std::string_view key) { state_.entry(key, ArchivedValue(value)); }

// ---- KeyedUnarchiver ----

struct KeyedUnarchiver::State {
    // Where each object stands. A refusal is remembered like a success, so an object that
    // many others refer to is rebuilt (or refused) once, not once per reference.
    enum class Progress : std::uint8_t { NotBuilt, Building, Built, Refused };

    const CodingClasses& classes;
    std::vector<ParsedObject> objects;
    std::vector<std::shared_ptr<Coding>> built;
    std::vector<Progress> progress;
    int depth = 0;
    // Values left to hand out; at zero every later read gives nothing and the archive fails.
    std::uint64_t readsLeft = 0;
    bool exhausted = false;

    std::shared_ptr<Coding> object(std::uint32_t index) {
        if (exhausted || index >= objects.size())
            return nullptr;
        switch (progress[index]) {
        case Progress::Building: // a reference back into an object still being read
        case Progress::Refused:
            return nullptr;
        case Progress::Built:
            return built[index];
        case Progress::NotBuilt:
            break;
        }
        const CodingClasses::Factory* factory = classes.find(objects[index].className);
        if (!factory || depth >= kMaximumNesting) {
            // Nesting depth depends on the path that reached the object, so only an unlisted
            // class is remembered as refused here.
            if (!factory)
                progress[index] = Progress::Refused;
            return nullptr;
        }
        progress[index] = Progress::Building;
        ++depth;
        std::shared_ptr<Coding> made;
        KeyedUnarchiver coder(*this, index);
        callGuarded("keyed archive: rebuilding " + objects[index].className, [&] { made = (*factory)(coder); });
        --depth;
        built[index] = made;
        progress[index] = made ? Progress::Built : Progress::Refused;
        return made;
    }

    // Takes one value from the allowance; false (and the archive fails) once it is spent.
    bool spendRead() {
        if (readsLeft == 0) {
            if (!exhausted)
                logLine("keyed archive: reading needs too much work; the archive is refused");
            exhausted = true;
            return false;
        }
        --readsLeft;
        return true;
    }

    ArchivedValue convert(const Node& node) {
        if (!spendRead())
            return {};
        struct Visitor {
            State& state;
            ArchivedValue operator()(const std::monostate&) { return {}; }
            ArchivedValue operator()(bool b) { return ArchivedValue(b); }
            ArchivedValue operator()(std::int64_t i) { return ArchivedValue(static_cast<long long>(i)); }
            ArchivedValue operator()(double d) { return ArchivedValue(d); }
            ArchivedValue operator()(const std::string& s) { return ArchivedValue(s); }
            ArchivedValue operator()(const Data& d) { return ArchivedValue(d); }
            ArchivedValue operator()(const Date& d) { return ArchivedValue(d); }
            ArchivedValue operator()(const URL& u) { return ArchivedValue(u); }
            ArchivedValue operator()(const Color& c) { return ArchivedValue(c); }
            ArchivedValue operator()(const Font& f) { return ArchivedValue(f); }
            ArchivedValue operator()(const NodeArray& items) {
                ArchivedArray out;
                out.reserve(items.size());
                for (const auto& item : items)
                    out.push_back(state.convert(item));
                return ArchivedValue(std::move(out));
            }
            ArchivedValue operator()(const NodeDictionary& entries) {
                ArchivedDictionary out;
                for (const auto& [key, item] : entries)
                    out.emplace(key, state.convert(item));
                return ArchivedValue(std::move(out));
            }
            ArchivedValue operator()(const ObjectRef& ref) { return ArchivedValue(state.object(ref.index)); }
        };
        return std::visit(Visitor{*this}, node.v);
    }

    const Node* find(std::uint32_t index, std::string_view key) const {
        const auto& entries = objects[index].entries;
        auto it = entries.find(key);
        return it == entries.end() ? nullptr : &it->second;
    }
};

std::shared_ptr<Coding> KeyedUnarchiver::unarchiveObjectWithData(const Data& data, const CodingClasses& classes) {
    if (data.size() < kHeaderBytes + kTrailerBytes || std::memcmp(data.data(), kMagic, sizeof(kMagic)) != 0)
        return nullptr;
    const std::size_t body = data.size() - 4;
    Reader checksum(data.data() + body, 4);
    if (checksum.u32() != crcOf(reinterpret_cast<const char*>(data.data()), body))
        return nullptr;

    Reader in(data.data() + sizeof(kMagic), body - sizeof(kMagic));
    if (in.u8() != kFormatVersion)
        return nullptr;
    State state{classes, {}, {}, {}, 0, 0, false};
    // An object takes at least its name's length and its entry count.
    const std::uint32_t objectCount = in.count(8);
    state.objects.reserve(objectCount);
    for (std::uint32_t i = 0; i < objectCount && in.ok(); ++i) {
        ParsedObject object;
        object.className = in.string();
        const std::uint32_t entries = in.count(5);
        for (std::uint32_t e = 0; e < entries && in.ok(); ++e) {
            std::string key = in.string();
            object.entries.insert_or_assign(std::move(key), in.value(0));
        }
        state.objects.push_back(std::move(object));
    }
    const std::uint32_t root = in.u32();
    if (!in.ok() || in.remaining() != 0 || root >= state.objects.size())
        return nullptr;
    for (const auto& object : state.objects)
        for (const auto& [key, node] : object.entries)
            if (!refsInRange(node, state.objects.size()))
                return nullptr;
    state.built.resize(state.objects.size());
    state.progress.resize(state.objects.size(), State::Progress::NotBuilt);
    state.readsLeft = kMinimumValueReads + kReadsPerParsedValue * in.valuesParsed();
    auto made = state.object(root);
    // An archive cut short by the work cap is not whole: give nothing rather than a part.
    return state.exhausted ? nullptr : made;
}

std::shared_ptr<Coding> KeyedUnarchiver::unarchiveObjectWithFile(const std::filesystem::path& path,
                                                                 const CodingClasses& classes) {
    // Writes of this file cut short by a crash leave their temporaries beside it: they go now.
    FileManager::removeStaleTemporaries(path);
    auto bytes = FileManager::contentsAtPath(path, kMaximumArchiveBytes);
    if (!bytes)
        return nullptr;
    return unarchiveObjectWithData(*bytes, classes);
}

bool KeyedUnarchiver::containsValueForKey(std::string_view key) const { return state_.find(object_, key) != nullptr; }

ArchivedValue KeyedUnarchiver::decodeObjectForKey(std::string_view key) {
    const Node* node = state_.find(object_, key);
    return node ? state_.convert(*node) : ArchivedValue();
}

bool KeyedUnarchiver::decodeBoolForKey(std::string_view key) {
    return decodeObjectForKey(key).boolean().value_or(false);
}
std::int64_t KeyedUnarchiver::decodeIntegerForKey(std::string_view key) {
    return decodeObjectForKey(key).integer().value_or(0);
}
int KeyedUnarchiver::decodeIntForKey(std::string_view key) {
    const std::int64_t v = decodeIntegerForKey(key);
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())
        return 0;
    return static_cast<int>(v);
}
double KeyedUnarchiver::decodeDoubleForKey(std::string_view key) {
    return decodeObjectForKey(key).number().value_or(0);
}
float KeyedUnarchiver::decodeFloatForKey(std::string_view key) {
    const double v = decodeDoubleForKey(key);
    if (std::isnan(v))
        return std::numeric_limits<float>::quiet_NaN();
    constexpr double kLargest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(v, -kLargest, kLargest));
}

} // namespace platform
