#include "monitor/qt/sampling_cycle.h"

#include "engine/resource_table.h"
#include "monitor/qt/live_chart.h"
#include "monitor/speed_event.h"
#include "ui/colors_qt.h"

namespace tarvik {
namespace {

// Sets the guard for one redraw and clears it on every way out.
class TDrawingGuard {
  public:
    explicit TDrawingGuard(bool& flag) : Flag_(flag) { Flag_ = true; }
    ~TDrawingGuard() { Flag_ = false; }
    TDrawingGuard(const TDrawingGuard&) = delete;
    TDrawingGuard& operator=(const TDrawingGuard&) = delete;

  private:
    bool& Flag_;
};

char KindOf(const TResourceTable& table, int row) {
    const std::string& kind = table.Cell(colKind, row);
    return kind.empty() ? '\0' : kind.front();
}

// The colour of a series whose colour text cannot be read: the colours a
// first resource gets (read lime, write yellow).
QColor SeriesFallbackColor(int colorColumn) {
    return colorColumn == colWriteColor ? QColor(0xFF, 0xFF, 0x00) : QColor(0x00, 0xFF, 0x00);
}

}  // namespace

TSamplingCycle::TSamplingCycle(TResourceTable& table, TLiveChart& chart, const IClock& clock)
    : Table_(table), Chart_(chart), Clock_(clock) {}

void TSamplingCycle::ShowLevel(int level) {
    if (level == ShownLevel_) return;
    ShownLevel_ = level;
    if (SetLevelIcon) SetLevelIcon(level);
}

bool TSamplingCycle::Run(const TSamplingPass& pass, bool& drawing, std::uint64_t& titleTick,
                         ISpeedEventActions* actions) {
    if (drawing) return false;
    const TDrawingGuard guard(drawing);
    TChartPainter painter(Chart_);
    // The row count is read on every step: an event action may run the event
    // loop, and the grid may change meanwhile.
    for (int row = 1; row < Table_.RowCount(); ++row) {
        const std::shared_ptr<TPingThread> thread = Table_.Thread(row);
        if (!thread) continue;
        const char kind = KindOf(Table_, row);
        // One consistent copy per tick: the thread may shift its arrays meanwhile.
        const TResultsSnapshot results = thread->Results();
        for (const TSeriesSpec& s : SeriesOfKind(kind))
            painter.Series(
                HistoryOf(results, s.Quantity), pass.Scale,
                ToQColor(Table_.Cell(s.ColorColumn, row), SeriesFallbackColor(s.ColorColumn)));
        if (!pass.EventMode) continue;

        const std::optional<double> value = CurrentValue(kind, results);
        if (value && actions) {
            // A failing action must not stop the tick: the remaining events
            // and rows are still evaluated and drawn.
            try {
                EvaluateSpeedEvent(Table_, row, kMinEvent, *value, Clock_, *actions);
            } catch (...) {
            }
            try {
                EvaluateSpeedEvent(Table_, row, kMaxEvent, *value, Clock_, *actions);
            } catch (...) {
            }
        }
        if (row == pass.SelectedRow) {
            ShowLevel(value ? LevelIconIndex(*value, results.LevelReference) : 0);
            const std::uint64_t now = Clock_.TickMs();
            if (now - titleTick >= 1000) {
                if (RefreshTitle) RefreshTitle();
                titleTick = now;
            }
        }
    }
    painter.Grid(pass.HGrid, pass.VGrid);
    return true;
}

std::vector<TChartRow> TSamplingCycle::Rows() const {
    std::vector<TChartRow> rows;
    for (int row = 1; row < Table_.RowCount(); ++row)
        if (const auto& thread = Table_.Thread(row))
            rows.push_back({Table_.Cell(colAddress, row), KindOf(Table_, row), thread->Results()});
    return rows;
}

std::optional<std::string> TSamplingCycle::ValueAt(int x, int y, double scale) const {
    return ValueTooltip(Rows(), x, y, scale, ChartWidth, ChartHeight);
}

}  // namespace tarvik
