// The trend area of the main window: the chart of one day (TrendDisplay
// with its image TrendDisplay2 and the scale legend TrendLegend), the date
// caption, the day, scale and grid buttons, the print and copy buttons with
// the copy menu, the refresh timer and the value tooltip. The window hands
// in what the panel works on (the settings grid, the clock, the trend file,
// the message dialog) and a few hooks back to itself.
#pragma once

#include <QFont>
#include <QFrame>
#include <QImage>
#include <QString>
#include <functional>
#include <optional>

#include "trend/trend_chart.h"
#include "trend/trend_export.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

#include "ui/chart_image.h"

namespace tarvik {

class IClock;
class TMsgDialog;
class TResourceTable;
class TTrendFile;


class TTrendPanel : public QWidget {
    Q_OBJECT
  public:
    TTrendPanel(TResourceTable& table, const IClock& clock, QWidget* parent = nullptr);
    ~TTrendPanel() override;

    // ---- controls ----
    QFrame* TrendDisplay;
    TChartImage* TrendDisplay2;
    TChartImage* TrendLegend;
    QLabel* TrendDatePanel;
    QPushButton* TrendPrevDate;
    QPushButton* TrendNextDate;
    QPushButton* TrendScaleUp;
    QPushButton* TrendScaleDown;
    QPushButton* HTrendGrdBtn;
    QPushButton* VTrendGrdBtn;
    QPushButton* PrintTrend;
    QPushButton* CopyTrendBtn;
    QMenu* CopyBarPopupMenu;
    QAction* CopyToClipbrdMenu;
    QAction* CopyToFile;
    QTimer* TrendTimer;
    QTimer* HideValueWindow;
    QLabel* TrendHint;  // the value tooltip's hint window

    // ---- state ----
    double TrendDate = 0;     // the chart shows the calendar day holding it
    double TrendScale = 2.0;  // KBps at the top of the chart
    bool TrendDrawing = false;
    TTrendPeriod Period;  // remembered while the program runs
    QFont LegendFont;

    // ---- handed in ----
    void SetTrendFile(const TTrendFile* file) { File_ = file; }
    void SetMessageDialog(TMsgDialog* dialog) { Messages_ = dialog; }
    // The edit-line font: the date caption and the period dialog's editors.
    void SetEditLineFont(const QFont& font);
    std::function<bool()> IsMeasuring;    // the sampling timer runs
    std::function<void()> RefreshTitle;   // the application title
    std::function<void()> LiftStayOnTop;  // around every dialog
    std::function<void()> RestoreStayOnTop;
    std::function<void()> HideOtherHints;  // the hide timer's other hint windows
    // The dialogs; tests put their own answers here.
    std::function<std::optional<QString>()> ChooseExportFile;
    // Fills the period dialog from `period`; on OK stores its texts back
    // into `period`, sets the slots and returns true.
    std::function<bool(TTrendPeriod& period, int& fromSlot, int& tillSlot)> ChoosePeriod;

    // ---- handlers ----
    void DrawTrend();
    void TrendLegendPaint();
    void TrendScaleUpClick();
    void TrendScaleDownClick();
    void HTrendGrdBtnClick() { DrawTrend(); }
    void VTrendGrdBtnClick() { DrawTrend(); }
    void TrendPrevDateClick();
    void TrendNextDateClick();
    void TrendTimerTimer();
    void TrendDisplay2MouseMove(const QPoint& pos, const QPoint& globalPos);
    void HideValueWindowTimer();
    void CopyTrendBtnClick();
    void CopyToClipbrdMenuClick();
    void CopyToFileClick();

    TExportTable BuildExportTable(int fromSlot, int tillSlot);
    void CopyTableToClipboard(const TExportTable& table);
    // Writes the file; a failure shows "Unable to write to <path>".
    bool CopyTableToFile(const TExportTable& table, const QString& path);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPushButton* MakeButton(const char* name, const QString& glyph, const QString& hint,
                            int helpContext, const QRect& geometry, bool checkable = false);
    double Now() const;
    void ReportWriteError(const QString& path);
    void PaintPicture(const TTrendPicture& picture);
    bool DefaultChoosePeriod(TTrendPeriod& period, int& fromSlot, int& tillSlot);
    std::optional<QString> DefaultChooseExportFile();

    TResourceTable& Table_;
    const IClock& Clock_;
    const TTrendFile* File_ = nullptr;
    TMsgDialog* Messages_ = nullptr;
    QFont EditLineFont_;
    QColor PanelColor_{0x00, 0x80, 0x00};
    QImage Canvas_;
    QString ExportDir_;
};

}  // namespace tarvik
