// Writes the seed inputs that the project's own writers make (keyed archives, video records,
// property lists, old-style text, Thrift structs, zip bundles) into the fuzz corpora:
//     fuzz_seed_corpus SOURCE_DIR
// The files are checked in; run this again (tests/fuzz/seed-corpus.sh) when a format changes.
// Inputs found by fuzzing are added to the corpora by hand, under their own names.
#include <fstream>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "WireSamples.h"
#include "meridian/MRJSONAd.h"
#include "meridian/MRVideoCache.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/foundation/Value.h"
#include "services/VellumAdEndpoints.h"
#include "support/TemporaryHome.h"
#include "vellum/tracking/OldStylePropertyList.h"
#include "vellum/tracking/TBinaryProtocol.h"
#include "vellum/tracking/TNSDataTransport.h"

namespace {

std::filesystem::path corpus;

void write(const std::string& target, const std::string& name, std::string_view bytes) {
    const auto folder = corpus / target;
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
void write(const std::string& target, const std::string& name, const platform::Data& bytes) {
    write(target, name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// The fuzz target's generic archived class: values under the keys it reads.
class Node : public platform::Coding {
public:
    std::string className = "Node";
    platform::ArchivedDictionary values;
    std::string_view codingClassName() const override { return className; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override {
        for (const auto& [key, value] : values)
            coder.encodeObject(value, key);
    }
};

std::shared_ptr<Node> chain(int length, const std::string& className) {
    std::shared_ptr<Node> head;
    for (int i = 0; i < length; ++i) {
        auto node = std::make_shared<Node>();
        node->className = className;
        node->values["next"] = head;
        node->values["other"] = head;
        node->values["number"] = i;
        head = node;
    }
    return head;
}

void keyedArchives() {
    auto full = std::make_shared<Node>();
    full->values["value"] = "text";
    full->values["number"] = 3.25;
    full->values["flag"] = true;
    full->values["items"] = platform::ArchivedArray{1, "two", platform::Data{3, 4}, platform::Date{86400},
                                                    *platform::URL::parse("http://example.test/a?b=c"),
                                                    platform::Color{0.1, 0.2, 0.3, 1.0}, platform::Font{"Sans", 12, true}};
    full->values["other"] = platform::ArchivedDictionary{{"k", "v"}, {"n", 1}};
    full->values["next"] = chain(3, "Node");
    write("keyed_archive", "every-kind", platform::KeyedArchiver::archivedDataWithRootObject(*full));
    write("keyed_archive", "shared-chain", platform::KeyedArchiver::archivedDataWithRootObject(*chain(12, "Node")));
    // Objects that refuse to be built, each referred to twice by the one before it.
    auto refusing = chain(40, "Refuse");
    auto root = std::make_shared<Node>();
    root->values["next"] = refusing;
    root->values["other"] = refusing;
    write("keyed_archive", "refused-chain-of-40", platform::KeyedArchiver::archivedDataWithRootObject(*root));
}

void meridianRecords(const std::filesystem::path& source) {
    fwtest::TemporaryHome home;
    std::ifstream in(source / "services/fixtures/meridian/video-ad.json", std::ios::binary);
    std::string reply((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string base = "http://127.0.0.1:8080";
    for (std::size_t at; (at = reply.find("{{base}}")) != std::string::npos;)
        reply.replace(at, 8, base);
    auto ad = std::make_shared<meridian::MRJSONAd>(platform::Data(reply.begin(), reply.end()),
                                                   std::weak_ptr<meridian::MRJSONAdView>());
    write("meridian_json_ad", "video-ad", reply);
    auto record = meridian::MRVideoCache::initWithAd(ad);
    if (!record) {
        std::cerr << "no video record from the fixture\n";
        std::exit(1);
    }
    record->setLocalPath((meridian::MRVideoCache::cacheFolder() / "fw-spot-1.avi").string());
    write("meridian_records", "video-record", platform::KeyedArchiver::archivedDataWithRootObject(*record));
    record->setExperation(platform::Date{0});
    write("meridian_records", "expired-record", platform::KeyedArchiver::archivedDataWithRootObject(*record));
    write("meridian_records", "image-ad", platform::KeyedArchiver::archivedDataWithRootObject(*ad));
    write("meridian_records", "refused-chain-of-40",
          platform::KeyedArchiver::archivedDataWithRootObject(*chain(40, "MRVideoCache")));
}

void propertyLists(const std::vector<platform::Value>& values) {
    int n = 0;
    for (const auto& value : values) {
        ++n;
        write("property_list", "fixture-" + std::to_string(n), value.toPropertyList());
        write("old_style_plist", "fixture-" + std::to_string(n), vellum::oldStylePropertyListText(value));
    }
    platform::Dictionary kinds{{"data", platform::Data{0, 1, 2, 255}}, {"date", platform::Date{1e9}},
                               {"real", 0.5},
                               {"integer", -7},
                               {"true", true},
                               {"text", "a \"quoted\" <tag> & more\n"},
                               {"list", platform::Array{1, "x", platform::Array{}}}};
    write("property_list", "every-kind", platform::Value(kinds).toPropertyList());
    write("old_style_plist", "every-kind", vellum::oldStylePropertyListText(platform::Value(kinds)));
    write("old_style_plist", "strings-file", "key = value;\n\"quoted key\" = \"quoted \\\"value\\\"\";\nbare;\n");
}

template <typename S> void thrift(std::uint8_t selector, const std::string& name, const S& s) {
    std::vector<std::uint8_t> bytes{selector};
    vellum::TBinaryProtocol protocol(std::make_shared<vellum::TNSDataTransport>(bytes));
    s.write(protocol);
    write("thrift", name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void thriftStructs() {
    // The selector bytes follow the order of the fuzz target's table.
    thrift(0, "slot-zero-response", vellumtest::sampleSlotZeroResponse());
    thrift(1, "action-response", vellumtest::sampleActionResponse());
    thrift(2, "client-request", vellumtest::sampleClientRequest());
    thrift(3, "broadcast-data", vellumtest::sampleBroadcastData());
    thrift(4, "run", vellumtest::sampleRun(1, 2, 1));
    thrift(5, "event", vellumtest::sampleEvent(1));
    thrift(6, "ad-event", vellumtest::sampleAdEvent(1));
}

void zipBundles() {
    using services::ZipEntry;
    const std::string page = "<html><body><img src=\"images/ad.png\"></body></html>";
    write("unzip", "bundle", services::makeZipArchive({{"index.html", page}, {"images/", ""}, {"images/ad.png", "png"}}));
    write("unzip", "empty-file", services::makeZipArchive({{"empty.txt", ""}}));
    write("unzip", "parent-path", services::makeZipArchive({{"../escape.txt", "x"}}));
    write("unzip", "absolute-path", services::makeZipArchive({{"/tmp/escape.txt", "x"}}));
    write("unzip", "link-then-file",
          services::makeZipArchive({{"link", "/tmp", true}, {"link/escape.txt", "x"}}));
    write("unzip", "temporary-name-taken",
          services::makeZipArchive({{"a.txt.unpacking", "first"}, {"a.txt", "second"}}));
    // The same bundle cut short: entries whose data ends before their declared size.
    const std::string whole = services::makeZipArchive({{"index.html", page + page + page}});
    write("unzip", "cut-short", whole.substr(0, whole.size() * 2 / 3));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " SOURCE_DIR\n";
        return 2;
    }
    const std::filesystem::path source = argv[1];
    corpus = source / "tests/fuzz/corpus";

    std::vector<platform::Value> fixtures;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(source / "services/fixtures")) {
        if (entry.path().extension() != ".json")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (auto value = platform::Value::fromJSON(text))
            fixtures.push_back(*value);
    }
    keyedArchives();
    meridianRecords(source);
    propertyLists(fixtures);
    thriftStructs();
    zipBundles();
    return 0;
}
