// Resources with known histories for the live chart and the sampling cycle:
// threads made by TPingThread::Create that are never resumed (they wait at
// their first safe point, so the test may fill their histories), and an
// event action recorder.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/ping_thread.h"
#include "support/recording_actions.h"
#include "engine/resource_table.h"
#include "monitor/speed_event.h"
#include "support/engine_harness.h"

namespace tarvik::test {

// history[i] = f(i) for i = 1..100, through the thread's own shift.
inline void FillHistory(TPingThread& thread, THistory& history,
                        const std::function<double(int)>& f) {
    for (int i = 1; i <= HistorySize; ++i) thread.AddSample(history, f(i));
}
inline std::function<double(int)> Flat(double v) {
    return [v](int) { return v; };
}


// A resource row of the harness's grid with its series colours and the
// default (switched off) events.
struct TChartResource {
    std::string Kind;
    std::string Address;
    std::string WriteColor = "clRed";
    std::string ReadColor = "clBlue";
};

inline std::shared_ptr<TPingThread> AddChartResource(TEngineHarness& h, const TChartResource& r) {
    auto t = h.AddResource(r.Kind, 1000, r.Address);
    const int row = t->Row;
    h.Table.SetCell(colWriteColor, row, r.WriteColor);
    h.Table.SetCell(colReadColor, row, r.ReadColor);
    TSpeedEvent::Defaults(kMinEvent).ToRow(h.Table, row, kMinEvent);
    TSpeedEvent::Defaults(kMaxEvent).ToRow(h.Table, row, kMaxEvent);
    return t;
}

// Switches the row's minimum event on: it plays "min.wav" once the speed
// has stayed at or below the threshold for more than 2 s.
inline void EnableMinEvent(TEngineHarness& h, int row, const std::string& threshold) {
    h.Table.SetCell(colMinEnabled, row, "1");
    h.Table.SetCell(colMinThreshold, row, threshold);
    h.Table.SetCell(colMinActionKind, row, "0");
    h.Table.SetCell(colMinPlayFileName, row, "min.wav");
    h.Table.SetCell(colMinTimeout, row, "2");
}

}  // namespace tarvik::test
