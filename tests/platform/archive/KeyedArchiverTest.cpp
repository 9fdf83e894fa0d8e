#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive/KeyedArchiver.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "support/TemporaryHome.h"

using namespace platform;

namespace {

// A small archivable class with one field of every kind an archive carries.
class Sample : public Coding {
public:
    static constexpr std::string_view kCodingClassName = "Sample";

    std::string title;
    std::optional<URL> link;
    Date when;
    Data bytes;
    Color color;
    Font font;
    double ratio = 0;
    float size = 0;
    std::int64_t count = 0;
    bool flag = false;
    ArchivedArray list;
    ArchivedDictionary table;

    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(title, "title");
        if (link)
            coder.encodeObject(*link, "link");
        coder.encodeObject(when, "when");
        coder.encodeObject(bytes, "bytes");
        coder.encodeObject(color, "color");
        coder.encodeObject(font, "font");
        coder.encodeDouble(ratio, "ratio");
        coder.encodeFloat(size, "size");
        coder.encodeInteger(count, "count");
        coder.encodeBool(flag, "flag");
        coder.encodeObject(list, "list");
        coder.encodeObject(table, "table");
    }
    static std::shared_ptr<Sample> initWithCoder(KeyedUnarchiver& coder) {
        auto s = std::make_shared<Sample>();
        const auto title = coder.decodeObjectForKey("title");
        const auto link = coder.decodeObjectForKey("link");
        const auto bytes = coder.decodeObjectForKey("bytes");
        const auto font = coder.decodeObjectForKey("font");
        const auto list = coder.decodeObjectForKey("list");
        const auto table = coder.decodeObjectForKey("table");
        if (title.string())
            s->title = *title.string();
        if (link.url())
            s->link = *link.url();
        s->when = coder.decodeObjectForKey("when").date().value_or(Date{});
        if (bytes.data())
            s->bytes = *bytes.data();
        s->color = coder.decodeObjectForKey("color").color().value_or(Color{});
        if (font.font())
            s->font = *font.font();
        s->ratio = coder.decodeDoubleForKey("ratio");
        s->size = coder.decodeFloatForKey("size");
        s->count = coder.decodeIntegerForKey("count");
        s->flag = coder.decodeBoolForKey("flag");
        if (list.array())
            s->list = *list.array();
        if (table.dictionary())
            s->table = *table.dictionary();
        return s;
    }
};

// Holds nested objects: one child, an array of children, and optionally itself.
class Holder : public Coding, public std::enable_shared_from_this<Holder> {
public:
    static constexpr std::string_view kCodingClassName = "Holder";

    std::shared_ptr<Sample> child;
    std::vector<std::shared_ptr<Sample>> children;
    bool refersToItself = false;

    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(child, "child");
        ArchivedArray items;
        for (const auto& c : children)
            items.emplace_back(c);
        coder.encodeObject(items, "children");
        if (refersToItself)
            coder.encodeObject(shared_from_this(), "self");
    }
    static std::shared_ptr<Holder> initWithCoder(KeyedUnarchiver& coder) {
        auto h = std::make_shared<Holder>();
        h->child = coder.decodeObjectOfClassForKey<Sample>("child");
        const auto children = coder.decodeObjectForKey("children");
        if (auto items = children.array())
            for (const auto& item : *items)
                h->children.push_back(item.objectOf<Sample>());
        h->refersToItself = coder.containsValueForKey("self") && !coder.decodeObjectForKey("self").isNull();
        return h;
    }
};

CodingClasses bothClasses() { return CodingClasses().add<Sample>().add<Holder>(); }

std::shared_ptr<Sample> fullSample() {
    auto s = std::make_shared<Sample>();
    s->title = "Ferro \"Wick\" \xE2\x80\xA8 \xF0\x9F\x98\x80";
    s->link = URL::parse("https://example.test/video.mp4?a=1&b=%20");
    s->when = Date{1'299'334'029.25};
    s->bytes = Data{0, 1, 2, 0xfe, 0xff};
    s->color = Color::rgba(0.25, 0.5, 0.75, 0.5);
    s->font = Font{"Helvetica-Bold", 14.5, true};
    s->ratio = -0.1;
    s->size = 2.5f;
    s->count = -9'007'199'254'740'993LL;
    s->flag = true;
    s->list = ArchivedArray{ArchivedValue("a"), ArchivedValue(1), ArchivedValue(ArchivedArray{}), ArchivedValue(),
                            ArchivedValue(Color::white(0.5, 0.25))};
    s->table = ArchivedDictionary{{"n", ArchivedValue(2.0)}, {"s", ArchivedValue("x")},
                                  {"nested", ArchivedValue(ArchivedDictionary{{"deep", ArchivedValue(true)}})}};
    return s;
}

void expectSame(const Sample& a, const Sample& b) {
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.link, b.link);
    EXPECT_EQ(a.when, b.when);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.color, b.color);
    EXPECT_EQ(a.font, b.font);
    EXPECT_EQ(a.ratio, b.ratio);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.count, b.count);
    EXPECT_EQ(a.flag, b.flag);
    ASSERT_EQ(a.list.size(), b.list.size());
    EXPECT_EQ(*b.list[0].string(), "a");
    EXPECT_EQ(*b.list[1].integer(), 1);
    EXPECT_TRUE(b.list[2].array() && b.list[2].array()->empty());
    EXPECT_TRUE(b.list[3].isNull());
    // A grey colour stays grey.
    ASSERT_TRUE(b.list[4].color());
    EXPECT_EQ(b.list[4].color()->colorSpaceModel(), ColorSpaceModel::Monochrome);
    EXPECT_EQ(b.list[4].color()->numberOfComponents(), 2);
    EXPECT_EQ(a.color.colorSpaceModel(), b.color.colorSpaceModel());
    ASSERT_EQ(b.table.size(), 3u);
    EXPECT_EQ(*b.table.at("n").number(), 2.0);
    EXPECT_EQ(*b.table.at("s").string(), "x");
    EXPECT_EQ(b.table.at("nested").dictionary()->at("deep").boolean(), true);
}

std::uint32_t crc32Of(const std::uint8_t* p, std::size_t n) {
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Rewrites the trailing checksum so that a deliberately damaged body passes it, and only the
// structural checks stand between the bytes and the reader.
void reseal(Data& d) {
    const std::uint32_t crc = crc32Of(d.data(), d.size() - 4);
    for (int i = 0; i < 4; ++i)
        d[d.size() - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
}

void putU32At(Data& d, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        d[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

TEST(KeyedArchive, EveryKindOfValueRoundTrips) {
    auto original = fullSample();
    Data bytes = KeyedArchiver::archivedDataWithRootObject(*original);
    auto back = std::dynamic_pointer_cast<Sample>(KeyedUnarchiver::unarchiveObjectWithData(bytes, bothClasses()));
    ASSERT_TRUE(back);
    expectSame(*original, *back);
}

TEST(KeyedArchive, NestedObjectsArraysAndSharedReferences) {
    auto holder = std::make_shared<Holder>();
    holder->child = fullSample();
    auto other = std::make_shared<Sample>();
    other->title = "second";
    holder->children = {holder->child, other, holder->child};

    auto back = std::dynamic_pointer_cast<Holder>(
        KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(*holder), bothClasses()));
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->child);
    expectSame(*holder->child, *back->child);
    ASSERT_EQ(back->children.size(), 3u);
    EXPECT_EQ(back->children[1]->title, "second");
    // One object archived three times comes back as one object.
    EXPECT_EQ(back->children[0], back->child);
    EXPECT_EQ(back->children[2], back->child);
}

TEST(KeyedArchive, ReferenceBackToAnObjectBeingReadGivesNothing) {
    auto holder = std::make_shared<Holder>();
    holder->refersToItself = true;
    auto back = std::dynamic_pointer_cast<Holder>(
        KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(*holder), bothClasses()));
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->refersToItself);
}

TEST(KeyedArchive, OnlyListedClassesAreRebuilt) {
    auto holder = std::make_shared<Holder>();
    holder->child = fullSample();
    holder->children = {holder->child};
    Data bytes = KeyedArchiver::archivedDataWithRootObject(*holder);

    // The root's class is not listed: nothing.
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(bytes, CodingClasses().add<Sample>()));
    // A nested class that is not listed reads as nothing where it stood.
    auto back = std::dynamic_pointer_cast<Holder>(
        KeyedUnarchiver::unarchiveObjectWithData(bytes, CodingClasses().add<Holder>()));
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->child);
    ASSERT_EQ(back->children.size(), 1u);
    EXPECT_FALSE(back->children[0]);
    // A class that refuses to be built, or throws, gives nothing.
    CodingClasses refusing;
    refusing.add("Holder", [](KeyedUnarchiver&) -> std::shared_ptr<Coding> { return nullptr; });
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(bytes, refusing));
    CodingClasses throwing;
    throwing.add("Holder", [](KeyedUnarchiver&) -> std::shared_ptr<Coding> { throw std::runtime_error("bad"); });
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(bytes, throwing));
}

TEST(KeyedArchive, ReadersOfMissingOrMistypedKeysGiveZero) {
    class Odd : public Coding {
    public:
        std::string_view codingClassName() const override { return "Odd"; }
        void encodeWithCoder(KeyedArchiver& coder) const override {
            coder.encodeObject("text", "number");
            coder.encodeDouble(1e300, "huge");
            coder.encodeInteger(7, "seven");
            coder.encodeInteger(1, "twice");
            coder.encodeInteger(2, "twice");
        }
    };
    struct Seen {
        double number = -1, missing = -1, seven = -1;
        float huge = 0;
        int hugeInt = -1, twice = 0;
        bool missingBool = true, sevenBool = false, contains = true;
    } seen;
    CodingClasses classes;
    classes.add("Odd", [&](KeyedUnarchiver& c) -> std::shared_ptr<Coding> {
        seen.number = c.decodeDoubleForKey("number");
        seen.missing = c.decodeDoubleForKey("missing");
        seen.seven = c.decodeDoubleForKey("seven");
        seen.huge = c.decodeFloatForKey("huge");
        seen.hugeInt = c.decodeIntForKey("huge");
        seen.twice = c.decodeIntForKey("twice");
        seen.missingBool = c.decodeBoolForKey("missing");
        seen.sevenBool = c.decodeBoolForKey("seven");
        seen.contains = c.containsValueForKey("missing");
        return std::make_shared<Odd>();
    });
    ASSERT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(Odd()), classes));
    EXPECT_EQ(seen.number, 0);
    EXPECT_EQ(seen.missing, 0);
    EXPECT_EQ(seen.seven, 7);
    EXPECT_EQ(seen.huge, std::numeric_limits<float>::max());
    EXPECT_EQ(seen.hugeInt, 0);
    EXPECT_EQ(seen.twice, 2); // the later value of a key written twice
    EXPECT_FALSE(seen.missingBool);
    EXPECT_TRUE(seen.sevenBool);
    EXPECT_FALSE(seen.contains);
}

TEST(KeyedArchive, TruncatedOrCorruptBytesGiveNothing) {
    auto holder = std::make_shared<Holder>();
    holder->child = fullSample();
    holder->children = {holder->child, std::make_shared<Sample>()};
    const Data good = KeyedArchiver::archivedDataWithRootObject(*holder);
    const auto classes = bothClasses();
    ASSERT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(good, classes));

    for (std::size_t length = 0; length < good.size(); ++length) {
        Data cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(cut, classes)) << "truncated to " << length;
    }
    for (std::size_t i = 0; i < good.size(); ++i) {
        Data flipped = good;
        flipped[i] ^= 0x5a;
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(flipped, classes)) << "byte " << i << " changed";
    }
    Data extra = good;
    extra.push_back(0);
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(extra, classes));
}

TEST(KeyedArchive, DamageThatPassesTheChecksumIsStillRefused) {
    const auto classes = bothClasses();
    auto sample = std::make_shared<Sample>();
    sample->title = "abc";
    const Data good = KeyedArchiver::archivedDataWithRootObject(*sample);
    // Header: "FWKA", version (1 byte), object count at offset 5; the class name follows.
    const std::size_t objectCount = 5;
    const std::size_t nameLength = 9;
    const std::size_t entryCount = nameLength + 4 + std::string_view("Sample").size();
    const std::size_t firstKeyLength = entryCount + 4;
    const std::size_t rootIndex = good.size() - 8;

    struct Damage {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    };
    const Damage cases[] = {
        {"object count beyond the bytes", objectCount, 0xffffffffu},
        {"no objects", objectCount, 0},
        {"class name longer than the file", nameLength, 0x7fffffffu},
        {"entry count beyond the bytes", entryCount, 0x10000000u},
        {"key length beyond the bytes", firstKeyLength, 0xfffffff0u},
        {"root index out of range", rootIndex, 1},
    };
    for (const auto& c : cases) {
        Data bad = good;
        putU32At(bad, c.offset, c.value);
        reseal(bad);
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(bad, classes)) << c.what;
    }

    Data wrongVersion = good;
    wrongVersion[4] = 99;
    reseal(wrongVersion);
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(wrongVersion, classes));

    // Arrays nested far deeper than any real archive: refused, without exhausting the stack.
    class Deep : public Coding {
    public:
        std::string_view codingClassName() const override { return "Deep"; }
        void encodeWithCoder(KeyedArchiver& coder) const override {
            ArchivedValue v("bottom");
            for (int i = 0; i < 200; ++i)
                v = ArchivedValue(ArchivedArray{v});
            coder.encodeObject(v, "deep");
        }
    };
    CodingClasses deep;
    deep.add("Deep", [](KeyedUnarchiver&) -> std::shared_ptr<Coding> { return std::make_shared<Deep>(); });
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(KeyedArchiver::archivedDataWithRootObject(Deep()), deep));
}

TEST(KeyedArchive, FilesAreWrittenWholeAndReadBack) {
    fwtest::TemporaryHome home;
    const auto folder = home.root() / "Library" / "archives";
    std::filesystem::create_directories(folder);
    const auto path = folder / "record.archive";
    const auto classes = bothClasses();

    auto first = fullSample();
    ASSERT_TRUE(KeyedArchiver::archiveRootObject(*first, path));
    auto second = std::make_shared<Sample>();
    second->title = "replaced";
    ASSERT_TRUE(KeyedArchiver::archiveRootObject(*second, path));
    auto back = KeyedUnarchiver::unarchiveObjectOfClassWithFile<Sample>(path, classes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title, "replaced");
    // Nothing but the archive is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);

    Error error;
    EXPECT_FALSE(KeyedArchiver::archiveRootObject(*second, home.root() / "missing" / "x.archive", &error));
    EXPECT_FALSE(error.localizedDescription.empty());

    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithFile(folder / "absent.archive", classes));
    std::ofstream(folder / "garbage.archive") << "not an archive at all";
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithFile(folder / "garbage.archive", classes));
    std::ofstream(folder / "empty.archive");
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithFile(folder / "empty.archive", classes));
}

// A write cut short by a crash leaves "<file>.tmp-<id>" beside the archive; reading the
// archive sweeps it, while another file's temporary and one a live writer holds stay.
TEST(KeyedArchive, TemporariesOfWritesCutShortAreSweptWhenTheFileIsRead) {
    fwtest::TemporaryHome home;
    const auto folder = home.root() / "Library" / "archives";
    std::filesystem::create_directories(folder);
    const auto path = folder / "record.archive";
    ASSERT_TRUE(KeyedArchiver::archiveRootObject(*fullSample(), path));

    const auto stale = folder / ("record.archive.tmp-" + ProcessInfo::globallyUniqueString());
    const auto other = folder / ("other.archive.tmp-" + ProcessInfo::globallyUniqueString());
    const auto live = folder / ("record.archive.tmp-" + ProcessInfo::globallyUniqueString());
    for (const auto& p : {stale, other, live})
        std::ofstream(p) << "half an archive";
    int liveFd = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(liveFd, 0);
    ASSERT_EQ(::flock(liveFd, LOCK_EX), 0);

    EXPECT_TRUE(KeyedUnarchiver::unarchiveObjectOfClassWithFile<Sample>(path, bothClasses()));
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_TRUE(std::filesystem::exists(live));
    ::close(liveFd);
}

namespace {

// One link of a chain: refers to the next link under two keys, so every reference doubles
// the work of a reader that rebuilds a refused object again at each reference.
class Link : public Coding {
public:
    static constexpr std::string_view kCodingClassName = "Link";
    std::shared_ptr<Link> next;
    std::string_view codingClassName() const override { return kCodingClassName; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(next, "first");
        coder.encodeObject(next, "second");
    }
};

Data chainOfLinks(int length) {
    std::shared_ptr<Link> head;
    for (int i = 0; i < length; ++i) {
        auto link = std::make_shared<Link>();
        link->next = head;
        head = link;
    }
    return KeyedArchiver::archivedDataWithRootObject(*head);
}

// Holds one large array.
class ArrayReader : public Coding {
public:
    std::string_view codingClassName() const override { return "ArrayReader"; }
    void encodeWithCoder(KeyedArchiver& coder) const override {
        coder.encodeObject(ArchivedArray(5000, ArchivedValue(7)), "items");
    }
};

} // namespace

TEST(KeyedArchive, ARefusedObjectIsBuiltOncePerArchive) {
    const Data bytes = chainOfLinks(40);
    EXPECT_LT(bytes.size(), 2048u);
    int attempts = 0;
    CodingClasses refusing;
    refusing.add("Link", [&](KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
        ++attempts;
        coder.decodeObjectForKey("first");
        coder.decodeObjectForKey("second");
        return nullptr;
    });
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(bytes, refusing));
    EXPECT_EQ(attempts, 40);

    // An unlisted class is remembered the same way: the listed root reads both keys, and the
    // chain below it is looked up once.
    attempts = 0;
    CodingClasses rootOnly;
    rootOnly.add("Link", [&](KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
        if (++attempts > 1)
            return nullptr;
        coder.decodeObjectForKey("first");
        coder.decodeObjectForKey("second");
        return std::make_shared<Link>();
    });
    EXPECT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(bytes, rootOnly));
    EXPECT_EQ(attempts, 2);
}

TEST(KeyedArchive, ReadingIsCappedInProportionToTheArchive) {
    // A class that reads its one large array over and over: the reader hands out values up to
    // its cap, then nothing, and the archive as a whole is refused.
    const Data bytes = KeyedArchiver::archivedDataWithRootObject(ArrayReader());

    int wholeReads = 0;
    int reads = 0;
    auto readRepeatedly = [&](int times) {
        CodingClasses classes;
        classes.add("ArrayReader", [&, times](KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
            for (int i = 0; i < times; ++i) {
                ++reads;
                auto items = coder.decodeObjectForKey("items");
                if (items.array() && items.array()->size() == 5000)
                    ++wholeReads;
            }
            return std::make_shared<ArrayReader>();
        });
        return KeyedUnarchiver::unarchiveObjectWithData(bytes, classes);
    };
    // A class that reads its keys a few times is unaffected.
    EXPECT_TRUE(readRepeatedly(3));
    EXPECT_EQ(wholeReads, 3);
    wholeReads = 0;
    reads = 0;
    EXPECT_FALSE(readRepeatedly(100000));
    EXPECT_EQ(reads, 100000);
    EXPECT_GT(wholeReads, 3);
    EXPECT_LT(wholeReads, 100);
}
