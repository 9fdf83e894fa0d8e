// Documents is the person's drive. These tests play the real `ferrowick` binary on the default
// (embedded) services for an hour of manual time, with the person's own files at names the
// application's components also use (temporaries beside "savedData.plist", Cobalt's "temp.zip"
// and "CB", the old tracking library's "Tolvane"; files, folders and links) among ordinary ones,
// on the phone and on the tablet; the person taps the ads,
// opens the news, leaves for the background and comes back, then starts the application a
// second time. Afterwards every one of the person's files is still there, byte for byte, and
// nothing was written behind the person's links.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

enum class DeviceKind { Phone, Tablet };

// One home with the person's files.
struct PersonsFilesCase {
    const char* name;
    std::vector<std::string> files; // paths under Documents
    // Links the person made: path under Documents -> the file or folder under Documents it names.
    std::vector<std::pair<std::string, std::string>> links = {};
    DeviceKind device = DeviceKind::Phone;
};



// The person's own bytes for a file: its name, every byte value, and the name again backwards.
std::string contentOf(const std::string& path) {
    std::string bytes = "a person's own " + path + "\n";
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    bytes.append(path.rbegin(), path.rend());
    return bytes;
}

// The whole file; nothing for a folder or a missing file.
std::string readAll(const fs::path& p) {
    if (!fs::is_regular_file(p))
        return {};
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An hour of ordinary use: the ads tapped (their landing pages closed again), the news opened
// and closed, two trips to the background. A tap on something not on screen at that moment
// answers an error line and the run goes on; every tap waits for its target to show first.
std::string anHourOfUse() {
    std::string s = "wait 5\ntap News\ntap Close news\n";
    constexpr int kMinutes = 60;
    for (int minute = 0; minute < kMinutes; ++minute) {
        s += "wait 30\n";
        if (minute % 5 == 0)
            s += "tap Ad\nwait 5\ntap Done\ntap Back\n";
        if (minute % 20 == 3)
            s += "tap News\ntap Close news\n";
        if (minute % 30 == 7)
            s += "background\nwait 60\nforeground\n";
        s += "wait 30\n";
    }
    return s + "quit\n";
}

// The second start finds "savedData.plist" written by the first, and opens the news again.
std::string aSecondStart() {
    return "wait 5\ntap News\ntap Close news\nwait 60\ntap Ad\nwait 5\ntap Done\ntap Back\nwait 60\nquit\n";
}

// One run of ferrowick on a home, started at once so that the homes of a table run side by side.
class FerrowickRun {
public:
    FerrowickRun(const fs::path& home, const std::string& script, DeviceKind device) {
        const fs::path scriptFile = home / "script.txt";
        std::ofstream(scriptFile) << script;
        const std::string command = std::string(FERROWICK_BINARY) + " --home '" + home.string() +
                                    "' --device " + (device == DeviceKind::Tablet ? "tablet" : "phone") +
                                    " --manual-clock --script '" + scriptFile.string() + "' 2>/dev/null";
        pipe_ = ::popen(command.c_str(), "r");
    }
    ~FerrowickRun() {
        if (pipe_)
            finish();
    }
    // Waits for the run's end; answers its exit status (-1 when it could not start).
    int finish() {
        if (!pipe_)
            return -1;
        std::array<char, 4096> buffer;
        while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe_))
            output_.append(buffer.data(), n);
        int status = ::pclose(pipe_);
        pipe_ = nullptr;
        return status;
    }
    const std::string& output() const { return output_; }

private:
    FILE* pipe_ = nullptr;
    std::string output_;
};

class PersonsFiles : public ::testing::Test {
protected:
    void TearDown() override {
        std::error_code ec;
        for (const auto& home : homes_)
            fs::remove_all(home, ec);
    }
    fs::path newHome(const PersonsFilesCase& c) {
        std::string pattern = (fs::temp_directory_path() / "fw-persons-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            return {};
        fs::path home = pattern;
        homes_.push_back(home);
        fs::create_directories(home / "Documents");
        for (const auto& file : c.files) {
            fs::create_directories((home / "Documents" / file).parent_path());
            std::ofstream(home / "Documents" / file, std::ios::binary) << contentOf(file);
        }
        for (const auto& [link, target] : c.links)
            fs::create_symlink(home / "Documents" / target, home / "Documents" / link);
        return home;
    }

    // Every file and folder below `folder` (links not followed), by relative path.
    static std::vector<std::string> treeOf(const fs::path& folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            names.push_back(fs::relative(it->path(), folder, ec).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Plays every case's home through the hour and the second start, side by side, and checks
    // each of the person's files afterwards.
    void playAndCheck(const std::vector<PersonsFilesCase>& cases) {
        std::vector<fs::path> homes;
        std::vector<std::vector<std::string>> treesBefore;
        std::vector<std::vector<std::vector<std::string>>> linkedBefore; // per case, per link
        for (const auto& c : cases) {
            homes.push_back(newHome(c));
            ASSERT_FALSE(homes.back().empty());
            treesBefore.push_back(treeOf(homes.back() / "Documents"));
            linkedBefore.emplace_back();
            for (const auto& link : c.links)
                linkedBefore.back().push_back(treeOf(homes.back() / "Documents" / link.second));
        }
        for (const auto& script : {anHourOfUse(), aSecondStart()}) {
            std::vector<std::unique_ptr<FerrowickRun>> runs;
            for (std::size_t i = 0; i < homes.size(); ++i)
                runs.push_back(std::make_unique<FerrowickRun>(homes[i], script, cases[i].device));
            for (std::size_t i = 0; i < runs.size(); ++i) {
                int status = runs[i]->finish();
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                    << cases[i].name << ": status " << status << "\n"
                    << runs[i]->output();
            }
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(std::string(cases[i].name) + (cases[i].device == DeviceKind::Tablet ? " (tablet)" : " (phone)"));
            const fs::path documents = homes[i] / "Documents";
            // The news panel kept its list beside the person's files, at both starts.
            EXPECT_TRUE(fs::is_regular_file(documents / "savedData.plist"));
            const std::string log = readAll(homes[i] / "Library" / "Logs" / "console.log");
            EXPECT_NE(log.find("Received ad from Network"), std::string::npos) << "the ads ran";
            for (const auto& file : cases[i].files) {
                EXPECT_TRUE(fs::is_regular_file(documents / file)) << file;
                EXPECT_TRUE(readAll(documents / file) == contentOf(file)) << file << " changed";
            }
            // The person's links still name what they named, and nothing was written behind
            // them: whatever the application added to Documents lies beside them, not inside.
            for (std::size_t l = 0; l < cases[i].links.size(); ++l) {
                const auto& [link, target] = cases[i].links[l];
                std::error_code ec;
                EXPECT_TRUE(fs::is_symlink(documents / link)) << link;
                EXPECT_EQ(fs::read_symlink(documents / link, ec), documents / target) << link;
                EXPECT_EQ(treeOf(documents / target), linkedBefore[i][l]) << "the folder behind " << link;
            }
            for (const auto& entry : treesBefore[i])
                EXPECT_TRUE(fs::exists(fs::symlink_status(documents / entry))) << entry << " is gone";
        }
    }

private:
    std::vector<fs::path> homes_;
};

// Ordinary names the person might use anywhere.
const std::vector<std::string> kOrdinary = {"notes.txt", "Photos/beach.jpg", "report final.pdf", ".hidden"};

std::vector<std::string> with(std::vector<std::string> files) {
    files.insert(files.end(), kOrdinary.begin(), kOrdinary.end());
    return files;
}

} // namespace

// The person's files at names the application's components also use, each row in a home of
// its own, all rows played side by side: names beside the news panel's "savedData.plist" that
// begin like the platform's temporaries, the folder the old tracking library used, and
// Cobalt's names (its transient archive "temp.zip" and its folder "CB" with the person's files
// inside, or a file of the person's named "CB" where Cobalt's folder would go). Links of the
// person's at the names stand for those names too: "CB" a link to a folder of the person's
// (holding what would be Cobalt's folders), "temp.zip" a link to a photo. The table runs on
// the phone, then on the tablet.
static std::vector<PersonsFilesCase> rowsOn(DeviceKind device) {
    std::vector<PersonsFilesCase> rows = {
        {"lookalikes of the temporaries beside savedData.plist, and Tolvane",
         with({"savedData.plist.tmp-notes.txt", "savedData.plist.tmp-2024 report.doc", "savedData.plist.tmp-",
               "Tolvane/notes.txt", "Tolvane/MRTracking/export.csv"})},
        {"temp.zip and a folder CB of the person's", with({"temp.zip", "CB/thesis.docx"})},
        {"a file named CB", with({"CB"})},
        {"CB a link to a folder of the person's",
         with({"Holiday/Config/Holiday/photo.jpg", "Holiday/Content/cbBanner/notes.txt", "Holiday/cobaltdb.sql"}),
         {{"CB", "Holiday"}}},
        {"temp.zip a link to a photo of the person's", with({"Pictures/summer.jpg"}),
         {{"temp.zip", "Pictures/summer.jpg"}}},
    };
    for (auto& row : rows)
        row.device = device;
    return rows;
}

TEST_F(PersonsFiles, SurviveAnHourOfUseAtTheNamesTheApplicationUsesOnThePhone) {
    playAndCheck(rowsOn(DeviceKind::Phone));
}

TEST_F(PersonsFiles, SurviveAnHourOfUseAtTheNamesTheApplicationUsesOnTheTablet) {
    playAndCheck(rowsOn(DeviceKind::Tablet));
}
