#include "trend/qt/report_printer.h"

#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPolygon>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

#include "ui/colors_qt.h"

namespace tarvik {

namespace {

QFont AtSize(QFont font, int pointSize) {
    font.setPointSize(pointSize);
    return font;
}

QPen ToQPen(const TReportPen& pen) {
    Qt::PenStyle style = Qt::SolidLine;
    switch (pen.Style) {
        case TReportPenStyle::Solid:
            style = Qt::SolidLine;
            break;
        case TReportPenStyle::Dash:
            style = Qt::DashLine;
            break;
        case TReportPenStyle::Dot:
            style = Qt::DotLine;
            break;
        case TReportPenStyle::DashDot:
            style = Qt::DashDotLine;
            break;
    }
    const QColor color = pen.Color.empty() ? QColor(Qt::black) : ToQColor(pen.Color, Qt::black);
    return QPen(color, pen.Width, style, Qt::FlatCap, Qt::MiterJoin);
}

// The print button's printer lives as long as the button.
class TPrintTrendAction : public QObject {
  public:
    TPrintTrendAction(QPushButton* button, TPrintTrendHooks hooks)
        : QObject(button), Hooks_(std::move(hooks)) {}
    void Run() { PrintTrendClick(Printer_, Hooks_); }

  private:
    QPrinter Printer_{QPrinter::HighResolution};
    TPrintTrendHooks Hooks_;
};

}  // namespace

TMeasureText DeviceTextMeasure(const QPaintDevice& device, const QFont& font) {
    const QPaintDevice* dev = &device;
    return [dev, font](std::string_view text, int pointSize) {
        const QFontMetrics fm(pointSize == 0 ? QFont() : AtSize(font, pointSize), dev);
        const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        return TTextSize{fm.horizontalAdvance(s), fm.height()};
    };
}

void PaintTrendReport(QPainter& painter, const TTrendReport& report, const QFont& font) {
    for (const TReportItem& item : report.Items) {
        if (const auto* line = std::get_if<TReportLine>(&item)) {
            painter.setPen(ToQPen(line->Pen));
            painter.drawLine(line->From.X, line->From.Y, line->To.X, line->To.Y);
        } else if (const auto* poly = std::get_if<TReportPolyline>(&item)) {
            QPolygon points;
            points.reserve(static_cast<qsizetype>(poly->Points.size()));
            for (const TReportPoint& p : poly->Points) points << QPoint(p.X, p.Y);
            painter.setPen(ToQPen(poly->Pen));
            painter.drawPolyline(points);
        } else if (const auto* text = std::get_if<TReportText>(&item)) {
            painter.setFont(AtSize(font, text->PointSize));
            painter.setPen(Qt::black);
            // The display list places the top left of the text cell; Qt draws on the base line.
            painter.drawText(text->At.X, text->At.Y + painter.fontMetrics().ascent(),
                             QString::fromStdString(text->Text));
        }
    }
}

TPrintResult PrintTrendReport(QPrinter& printer, TReportInput input, const QFont& font) {
    const double mm = printer.pageLayout().fullRect(QPageLayout::Millimeter).width();
    if (!(mm > 0)) return TPrintResult::NothingToPrint;
    input.PageWidth = printer.width();
    input.PageWidthMm = mm;
    printer.setDocName("Network speed trend");
    QPainter painter;
    if (!painter.begin(&printer)) return TPrintResult::Failed;
    const TTrendReport report = LayOutTrendReport(input, DeviceTextMeasure(printer, font));
    PaintTrendReport(painter, report, font);
    return painter.end() ? TPrintResult::Printed : TPrintResult::Failed;
}

TPrintResult PrintTrendClick(QPrinter& printer, const TPrintTrendHooks& hooks) {
    if (hooks.LiftStayOnTop) hooks.LiftStayOnTop();
    struct TRestore {
        const TPrintTrendHooks& Hooks;
        ~TRestore() {
            if (Hooks.RestoreStayOnTop) Hooks.RestoreStayOnTop();
        }
    } restore{hooks};

    if (!hooks.PrintDialog || !hooks.PrintDialog(printer)) return TPrintResult::NothingToPrint;
    const std::optional<TReportPeriod> period =
        hooks.PeriodDialog ? hooks.PeriodDialog() : std::nullopt;
    if (!period) return TPrintResult::NothingToPrint;

    TReportContent content = hooks.Content ? hooks.Content() : TReportContent{};
    TReportInput input;
    input.Scale = content.Scale;
    input.FromSlot = period->FromSlot;
    input.TillSlot = period->TillSlot;
    input.HGrid = content.HGrid;
    input.VGrid = content.VGrid;
    input.Today = hooks.Today ? hooks.Today() : 0;
    input.DateCaption = std::move(content.DateCaption);
    input.Resources = std::move(content.Resources);
    const QFont font = hooks.EditLineFont ? hooks.EditLineFont() : QFont();
    const TPrintResult result = PrintTrendReport(printer, std::move(input), font);
    if (result == TPrintResult::Failed && hooks.ShowError) {
        const QString name =
            printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
        hooks.ShowError(QString("The trend report could not be printed on %1.").arg(name));
    }
    return result;
}

bool ExecPrintDialog(QPrinter& printer, QWidget* parent) {
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName("PrintDialog1");
    // Ranges and copies do not apply to a one-page report.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    return dialog.exec() == QDialog::Accepted;
}

void ConnectPrintTrend(QPushButton* button, TPrintTrendHooks hooks) {
    button->setToolTip("Prints trend of current day");
    button->setAccessibleName("Print trend");
    auto* action = new TPrintTrendAction(button, std::move(hooks));
    QObject::connect(button, &QPushButton::clicked, action, [action] { action->Run(); });
}

}  // namespace tarvik
