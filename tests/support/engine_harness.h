// A scripted probe and a harness that plays the window thread for tests of
// the measuring thread: a fake clock, a settings grid, a synchronous caller
// pumped by the test thread, and a trend writer that records what it gets.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ping_thread.h"
#include "engine/resource_table.h"
#include "engine/sync_caller.h"
#include "support/fake_clock.h"

namespace tarvik::test {

// Fills in the transfer steps of a cycle with a scripted sample; each cycle
// takes CycleMs of clock time (advanced on the fake clock by the probe).
class TScriptedProbe final : public TProbe {
public:
    struct TScript {
        std::function<double(std::uint64_t cycle)> Sample = [](std::uint64_t) { return 10.0; };
        // Kind "1": the write sample when set (else Sample).
        std::function<double(std::uint64_t cycle)> WriteSample;
        std::uint32_t CycleMs = 10;
        std::int64_t TimeUs = 5000;
        TFakeClock* Clock = nullptr;  // advanced by CycleMs per cycle when set
        std::function<void(TPingThread&)> InCycle;  // runs inside each cycle
    };
    explicit TScriptedProbe(std::shared_ptr<TScript> script) : Script_(std::move(script)) {}

    void RunLoop(TPingThread& t) override {
        t.CyclePriority = t.Kind == '2' ? TPriority::AboveNormal : TPriority::BelowNormal;
        while (!t.Restart) {
            if (!t.BeginCycle()) break;
            if (Script_->Clock) Script_->Clock->Advance(Script_->CycleMs);
            if (Script_->InCycle) Script_->InCycle(t);
            const double s = Script_->Sample(t.CycleCount());
            switch (t.Kind) {
                case '1':
                    t.WriteSpeed = Script_->WriteSample ? Script_->WriteSample(t.CycleCount()) : s;
                    t.ReadSpeed = s;
                    t.AddSample(t.WriteHistory, t.WriteSpeed);
                    t.AddSample(t.ReadHistory, s);
                    t.UpdateLevelReference(t.ReadSpeed);
                    break;
                case '2':
                    t.ReadSpeed = s;
                    t.AddSample(t.ReadHistory, s);
                    t.UpdateLevelReference(t.ReadSpeed);
                    break;
                default:
                    t.PingSpeed = s;
                    t.AddSample(t.PingHistory, s);
                    t.UpdateLevelReference(t.PingSpeed);
                    break;
            }
            t.ShowResults();
            t.ApplyPriorityRule(Script_->TimeUs);
            t.EndCycle();
        }
    }
    void Close(TPingThread&) override {}

private:
    std::shared_ptr<TScript> Script_;
};

class TRecordingTrendWriter final : public ITrendWriter {
public:
    struct TEntry {
        TTrendRecord Record;
        TLocalTime At;
    };
    explicit TRecordingTrendWriter(const IClock& clock) : Clock_(clock) {}
    void WriteRecord(const TTrendRecord& r) override { Entries.push_back({r, Clock_.LocalNow()}); }
    void WriteQuality(const TTrendRecord& r, const TLinkQuality& q) override { Qualities.push_back({r, q}); }
    std::vector<TEntry> Entries;
    std::vector<std::pair<TTrendRecord, TLinkQuality>> Qualities;

private:
    const IClock& Clock_;
};

// Plays the window: owns the grid and the context, pumps synchronous calls.
class TEngineHarness {
public:
    TEngineHarness()
        : Sync(std::make_shared<TSyncCaller>()),
          Script(std::make_shared<TScriptedProbe::TScript>()),
          Writer(Clock) {
        Script->Clock = &Clock;
        Ctx = std::make_shared<TEngineContext>();
        Ctx->Clock = std::shared_ptr<const IClock>(SharedClock);
        Ctx->Sync = Sync;
        Ctx->Table = &Table;
        Ctx->TrendWriter = &Writer;
        Ctx->ApplyOsPriority = false;
        Ctx->RepaintCells = [this](int row, int first, int last) {
            for (int c = first; c <= last; ++c) Shown.push_back({row, c, Table.Cell(c, row)});
        };
        Ctx->Probes = [this](char kind, TPingThread&) -> std::unique_ptr<TProbe> {
            if (kind < '1' || kind > '3') return nullptr;
            return std::make_unique<TScriptedProbe>(Script);
        };
    }
    ~TEngineHarness() {
        Sync->Release();
        for (int r = 1; r < Table.RowCount(); ++r)
            if (auto t = Table.Thread(r)) t->Destroy(2000);
    }

    // Adds a resource row and its thread, loaded from the row.
    std::shared_ptr<TPingThread> AddResource(const std::string& kind, int interval,
                                             const std::string& address = "host") {
        const int r = Table.AddRow();
        Table.SetCell(colAddress, r, address);
        Table.SetCell(colKind, r, kind);
        Table.SetCell(colInterval, r, std::to_string(interval));
        auto t = TPingThread::Create(r, Ctx);
        Table.SetThread(r, t);
        t->LoadSettings();
        return t;
    }

    // Runs synchronous calls until pred holds; false on time-out (real time).
    bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!pred()) {
            Sync->RunPending();
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        Sync->RunPending();
        return true;
    }

    struct TShown {
        int Row, Col;
        std::string Text;
    };
    // Shared with the context, as the window shares its clock with the threads.
    std::shared_ptr<TFakeClock> SharedClock =
        std::make_shared<TFakeClock>(TLocalTime{2026, 12, 10, 12, 0, 0, 0});
    TFakeClock& Clock = *SharedClock;
    TResourceTable Table;
    std::shared_ptr<TSyncCaller> Sync;
    std::shared_ptr<TScriptedProbe::TScript> Script;
    TRecordingTrendWriter Writer;
    std::shared_ptr<TEngineContext> Ctx;
    std::vector<TShown> Shown;
};

}  // namespace tarvik::test
