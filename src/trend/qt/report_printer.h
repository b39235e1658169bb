// Printing the trend report: the display list painted on a QPrinter (a CUPS
// queue or a PDF file), and the print button's handler with its dialogs.
#pragma once

#include <QFont>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "trend/trend_report.h"

class QPainter;
class QPaintDevice;
class QPrinter;
class QPushButton;

namespace tarvik {

// Text sizes on `device`: its default font for point size 0, otherwise
// `font` at that point size.
TMeasureText DeviceTextMeasure(const QPaintDevice& device, const QFont& font);

// Replays the display list; texts in black in `font` at each item's size.
void PaintTrendReport(QPainter& painter, const TTrendReport& report, const QFont& font);

enum class TPrintResult { Printed, NothingToPrint, Failed };

// One page on `printer` under the job title "Network speed trend". W is the
// printer's printable width in pixels, mm the width of its paper; a paper
// width of 0 prints nothing. `input`'s page fields are filled here.
TPrintResult PrintTrendReport(QPrinter& printer, TReportInput input, const QFont& font);

// What the report shows, collected once the dialogs are through.
struct TReportContent {
    double Scale = 1;
    bool HGrid = true;
    bool VGrid = true;
    std::string DateCaption;
    std::vector<TReportResource> Resources;
};

struct TReportPeriod {
    int FromSlot = 0;
    int TillSlot = 96;
};

struct TPrintTrendHooks {
    std::function<void()> LiftStayOnTop;
    std::function<void()> RestoreStayOnTop;
    // Shows the print dialog for `printer`; true when the user chose Print.
    std::function<bool(QPrinter& printer)> PrintDialog;
    // Fills the period dialog from the remembered period and shows it; on
    // OK stores the dialog's texts as the remembered period and gives the
    // slots, on Cancel nothing.
    std::function<std::optional<TReportPeriod>()> PeriodDialog;
    std::function<TReportContent()> Content;
    std::function<QFont()> EditLineFont;
    std::function<double()> Today;  // the report date
    // A printer that refuses the job (optional; nothing is shown without it).
    std::function<void(const QString& message)> ShowError;
};

// The print button: stay-on-top lifted around both dialogs, the print
// dialog, then the period dialog, then the one-page report.
TPrintResult PrintTrendClick(QPrinter& printer, const TPrintTrendHooks& hooks);

// The system's print dialog (CUPS printers and printing to a PDF file).
bool ExecPrintDialog(QPrinter& printer, QWidget* parent);

// Makes `button` the print button: its hint, and a click runs
// PrintTrendClick with a printer kept for the window's life, so the chosen
// printer and its options carry over to the next report.
void ConnectPrintTrend(QPushButton* button, TPrintTrendHooks hooks);

}  // namespace tarvik
