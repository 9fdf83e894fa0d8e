// Inserting 100 000 tracked events into the tracked-event store (each with its statistics
// statement, bound values and description texts, inside one outer transaction), side by side
// with bare prepared SQLite inserts of the same rows into the same table in one transaction
// (the floor). The ratio of the two times' medians over interleaved repetitions is printed at
// the end; the goal is at most 1.3.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include "support/RatioMain.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/DeviceHome.h"
#include "platform/foundation/UserDefaults.h"
#include "vellum/tracking/OldStylePropertyList.h"
#include "vellum/tracking/VellumAnalyticsManager.h"
#include "vellum/tracking/VellumTrackedEvent.h"
#include "vellum/tracking/VellumTrackedEventDatabase.h"
#include "vellum/tracking/VellumTrackingState.h"

namespace {

constexpr int kEvents = 100'000;
constexpr double kFirstTime = 1'700'000'000.0;
const char* const kTypes[] = {"Tap", "MRAdViewed", "Open", "Share", "Close"};

struct Home {
    Home() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fw-bench-XXXXXX").string();
        if (char* made = ::mkdtemp(pattern.data()))
            root = made;
        platform::DeviceHome::setCurrent(root);
        platform::UserDefaults::resetForTesting();
    }
    ~Home() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::filesystem::path root;
};

Home& home() {
    static Home h;
    return h;
}

const std::vector<std::shared_ptr<vellum::VellumTrackedEvent>>& events() {
    static const auto made = [] {
        home();
        // A later run, as most are: every insert compares the calendar fields of its type's
        // latest event.
        vellum::trackingState().firstRun = false;
        std::vector<std::shared_ptr<vellum::VellumTrackedEvent>> v;
        v.reserve(kEvents);
        for (int i = 0; i < kEvents; ++i) {
            auto e = std::make_shared<vellum::VellumTrackedEvent>();
            e->eventType = kTypes[i % 5];
            e->timestamp = platform::Date{kFirstTime + i * 7.0};
            e->runID = 700'000'000u + static_cast<std::uint32_t>(i / 1000);
            e->runDuration = static_cast<std::uint32_t>(i % 1000);
            e->connStatus = "WiFiConnected";
            if (i % 5 == 1) {
                e->adID = "ad-" + std::to_string(i % 37);
                e->stringValues = platform::Dictionary{{"MRAdSlot", "top"}, {"MRAdVersion", "3"}};
                e->durationValues = platform::Dictionary{{"MRAdViewDuration", 12.5}};
            }
            v.push_back(std::move(e));
        }
        return v;
    }();
    return made;
}

void removeStore() {
    std::error_code ec;
    std::filesystem::remove_all(home().root / "Library" / "Vellum", ec);
    vellum::VellumTrackedEventDatabase::resetForTesting();
}

void BM_TrackedEventStoreInsert(benchmark::State& state) {
    const auto& all = events();
    for (auto _ : state) {
        state.PauseTiming();
        removeStore();
        auto db = std::make_unique<vellum::VellumTrackedEventDatabase>();
        state.ResumeTiming();
        db->runInTransaction([&] {
            for (const auto& e : all)
                if (!db->insertTrackedEventToQueue(*e))
                    return false;
            return true;
        });
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_TrackedEventStoreInsert)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same rows with one prepared statement, constant texts where the store writes its
// description texts, and no statistics.
void BM_BarePreparedInsertFloor(benchmark::State& state) {
    const auto& all = events();
    const std::string emptyDescription = "{}";
    for (auto _ : state) {
        state.PauseTiming();
        removeStore();
        { vellum::VellumTrackedEventDatabase create; } // the same table, made by the store
        sqlite3* db = nullptr;
        const auto file = home().root / "Library" / "Vellum" / "MRTracking" / "MRTracking.sql";
        sqlite3_open(file.c_str(), &db);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(
            db,
            "INSERT INTO v2TrackedEvents (wasBroadcast, timestamp, eventType, adID, connStatus, "
            "latitude, longitude, altitude, horizontalAccuracy, verticalAccuracy, isFirstEver, "
            "isFirstForMonth, isFirstForDay, isFirstForHour, countForMonth, countForDay, countForHour, "
            "runID, runNumber, runDuration, adExit, userCount, userDuration, userDict, stringValues, "
            "numericValues, durationValues, breadcrumbs, appVersion, systemVersion, hardwareVersion, "
            "eventID, adChildAdID, adParentAdID, adIsAClone) VALUES (0, ?1, ?2, ?3, ?4, ?5, ?6, ?7, "
            "?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, "
            "?26, ?27, ?28, ?29, ?30, ?31, ?32, ?33, ?34);",
            -1, &insert, nullptr);
        state.ResumeTiming();
        sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
        for (const auto& e : all) {
            int i = 1;
            sqlite3_bind_double(insert, i++, e->timestamp->secondsSince1970);
            sqlite3_bind_text(insert, i++, e->eventType->c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, i++, e->adID ? e->adID->c_str() : "(null)", -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, i++, e->connStatus->c_str(), -1, SQLITE_TRANSIENT);
            for (int k = 0; k < 5; ++k)
                sqlite3_bind_double(insert, i++, 0.0);
            for (int k = 0; k < 7; ++k)
                sqlite3_bind_int(insert, i++, 1);
            sqlite3_bind_int64(insert, i++, e->runID);
            sqlite3_bind_int(insert, i++, e->runNumber);
            sqlite3_bind_int64(insert, i++, e->runDuration);
            sqlite3_bind_int(insert, i++, e->adExit);
            sqlite3_bind_int(insert, i++, e->userCount);
            sqlite3_bind_int64(insert, i++, e->userDuration);
            for (int k = 0; k < 5; ++k)
                sqlite3_bind_text(insert, i++, emptyDescription.c_str(), -1, SQLITE_TRANSIENT);
            for (int k = 0; k < 3; ++k)
                sqlite3_bind_text(insert, i++, "1.0", -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, i++, e->eventID);
            sqlite3_bind_null(insert, i++);
            sqlite3_bind_null(insert, i++);
            sqlite3_bind_int(insert, i++, 0);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
        state.PauseTiming();
        sqlite3_finalize(insert);
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_BarePreparedInsertFloor)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    return fwbench::runWithRatios(
        argc, argv,
        {{"BM_TrackedEventStoreInsert/iterations:3", "BM_BarePreparedInsertFloor/iterations:3", 1.3}},
        {.repetitions = 5});
}
