// The sampling cycle of the main window: on every tick while measuring it
// redraws the live chart from the threads' results and evaluates each
// resource's speed events, then sets the level icon and, once a second, the
// application title for the selected resource. The same redraw without the
// events serves the chart buttons, the first showing and deletions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "monitor/chart_geometry.h"
#include "platform/clock.h"

namespace tarvik {

class ISpeedEventActions;
class TLiveChart;
class TResourceTable;

// What the window gives one redraw.
struct TSamplingPass {
    bool EventMode = false;  // evaluate events, set the level icon and the title
    double Scale = 2.0;
    bool HGrid = true;
    bool VGrid = true;
    int SelectedRow = 0;
};

class TSamplingCycle {
  public:
    TSamplingCycle(TResourceTable& table, TLiveChart& chart, const IClock& clock);

    // One redraw. `drawing` is the window's re-entry guard: while it is set
    // the call returns false at once; it is cleared on every way out.
    // `titleTick` is the tick of the last title refresh. Events are evaluated
    // only in event mode and with actions to perform.
    bool Run(const TSamplingPass& pass, bool& drawing, std::uint64_t& titleTick,
             ISpeedEventActions* actions);

    // The rows that have a thread, in row order, with a copy of their results.
    std::vector<TChartRow> Rows() const;
    // The value tooltip text at chart point (x, y).
    std::optional<std::string> ValueAt(int x, int y, double scale) const;

    // The window's level icon (0..12); called only when the level changes.
    std::function<void(int level)> SetLevelIcon;
    std::function<void()> RefreshTitle;

  private:
    void ShowLevel(int level);

    TResourceTable& Table_;
    TLiveChart& Chart_;
    const IClock& Clock_;
    int ShownLevel_ = -1;
};

}  // namespace tarvik
