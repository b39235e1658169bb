// The trend report printed for real: to a PDF file read back with poppler's
// tools, and the print button's order of dialogs.
#include <gtest/gtest.h>

#include <QImage>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "platform/date_time.h"
#include "trend/qt/report_printer.h"

namespace tarvik {
namespace {

QString RunTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

TReportContent TwoResources() {
    TReportContent c;
    c.Scale = 100;
    c.DateCaption = "December 9, 2026, Wednesday";
    TReportResource drive;
    drive.Address = "/mnt/share";
    drive.Kind = '1';
    drive.WriteColor = "clRed";
    drive.ReadColor = "clBlue";
    TReportResource host;
    host.Address = "example.org";
    host.Kind = '3';
    host.ReadColor = "$00008000";  // green
    for (int s = 1; s <= 96; ++s) {
        drive.Day[s - 1] = {true, 20.0 + s / 2.0, 10.0 + s / 4.0, 0};
        host.Day[s - 1] = {true, 0, 0, 150.0};  // above the scale: along the top edge
    }
    c.Resources = {drive, host};
    return c;
}

struct Recorder {
    std::vector<std::string> Calls;
    bool PrintOk = true;
    bool PeriodOk = true;
    QString PdfPath;

    TPrintTrendHooks Hooks() {
        TPrintTrendHooks h;
        h.LiftStayOnTop = [this] { Calls.push_back("lift"); };
        h.RestoreStayOnTop = [this] { Calls.push_back("restore"); };
        h.PrintDialog = [this](QPrinter& printer) {
            Calls.push_back("print dialog");
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(PdfPath);
            printer.setPageSize(QPageSize(QPageSize::A4));
            return PrintOk;
        };
        h.PeriodDialog = [this]() -> std::optional<TReportPeriod> {
            Calls.push_back("period dialog");
            if (!PeriodOk) return std::nullopt;
            return TReportPeriod{8, 12};
        };
        h.Content = [this] {
            Calls.push_back("content");
            return TwoResources();
        };
        h.EditLineFont = [] { return QFont("Liberation Sans", 8, QFont::Bold); };
        h.Today = [] { return DaysFromCivil(2026, 12, 10) + 0.4; };
        h.ShowError = [this](const QString& m) { Calls.push_back("error: " + m.toStdString()); };
        return h;
    }
};

TEST(ReportPrint, CancelInEitherDialogPrintsNothing) {
    struct Case {
        bool printOk, periodOk;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {false, true, {"lift", "print dialog", "restore"}},
        {true, false, {"lift", "print dialog", "period dialog", "restore"}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        Recorder r;
        r.PrintOk = c.printOk;
        r.PeriodOk = c.periodOk;
        r.PdfPath = dir.filePath("report.pdf");
        QPrinter printer(QPrinter::HighResolution);
        EXPECT_EQ(PrintTrendClick(printer, r.Hooks()), TPrintResult::NothingToPrint);
        EXPECT_EQ(r.Calls, c.calls);
        EXPECT_FALSE(QFile::exists(r.PdfPath));
    }
}

TEST(ReportPrint, PrinterThatCannotStartTheJobIsReported) {
    QTemporaryDir dir;
    Recorder r;
    r.PdfPath = dir.filePath("missing/dir/report.pdf");
    QPrinter printer(QPrinter::HighResolution);
    EXPECT_EQ(PrintTrendClick(printer, r.Hooks()), TPrintResult::Failed);
    ASSERT_EQ(r.Calls.size(), 6u);
    EXPECT_EQ(r.Calls[4],
              "error: The trend report could not be printed on " + r.PdfPath.toStdString() + ".");
    EXPECT_EQ(r.Calls[5], "restore");
}

TEST(ReportPrint, OnePagePdfWithTextsAndChart) {
    for (const char* tool : {"pdftotext", "pdftoppm", "pdfinfo"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is not installed (Debian package poppler-utils)";
    QTemporaryDir dir;
    Recorder r;
    r.PdfPath = dir.filePath("report.pdf");
    QPrinter printer(QPrinter::HighResolution);
    ASSERT_EQ(PrintTrendClick(printer, r.Hooks()), TPrintResult::Printed);
    EXPECT_EQ(r.Calls, (std::vector<std::string>{"lift", "print dialog", "period dialog", "content",
                                                 "restore"}));
    EXPECT_EQ(printer.docName(), "Network speed trend");

    const QString info = RunTool("pdfinfo", {r.PdfPath});
    EXPECT_TRUE(info.contains(QRegularExpression("Pages:\\s+1\\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression("Title:\\s+Network speed trend")))
        << info.toStdString();

    // pdftotext spaces words by their glyph positions: compare with blanks collapsed.
    const QString text = RunTool("pdftotext", {"-layout", r.PdfPath, "-"}).simplified();
    for (const char* want :
         {"Network speed", "Report Date : December 10, 2026", "December 9, 2026, Wednesday", "KBps",
          "20.0", "80.0", "3:00", "21:00",
          // Period 2:00 till 3:00: slots 8 to 12, averages over 5.
          "\"/mnt/share\"  write speed. Min. =     12.00, Max. =     13.00, Average =     12.50",
          "\"/mnt/share\"  read speed. Min. =     24.00, Max. =     26.00, Average =     25.00",
          "\"example.org\"  Ping speed. Min. =    150.00, Max. =    150.00, Average =    150.00"})
        EXPECT_TRUE(text.contains(QString(want).simplified())) << want << "\n"
                                                               << text.toStdString();
    EXPECT_FALSE(text.contains("100.0")) << "the top value label is left out";

    // Rendered at 50 dpi (about 413 x 585 for A4): the frame, the curves in their
    // colours and nothing below the legend.
    const QString png = dir.filePath("page");
    RunTool("pdftoppm", {"-r", "50", "-png", "-singlefile", r.PdfPath, png});
    const QImage page(png + ".png");
    ASSERT_FALSE(page.isNull());
    EXPECT_NEAR(page.width(), 413, 2);
    int dark = 0, red = 0, blue = 0, green = 0;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            if (c.red() < 90 && c.green() < 90 && c.blue() < 90) ++dark;
            if (c.red() > 150 && c.green() < 120 && c.blue() < 120) ++red;
            if (c.blue() > 150 && c.red() < 120 && c.green() < 120) ++blue;
            if (c.green() > 90 && c.red() < 80 && c.blue() < 80) ++green;
        }
    }
    EXPECT_GT(dark, 1000);  // frame, grid and texts
    EXPECT_GT(red, 10);     // write curve and its sample stroke
    EXPECT_GT(blue, 10);    // read curve
    EXPECT_GT(green, 10);   // ping curve along the top edge
    if (const char* keep = std::getenv("TARVIK_KEEP_REPORT_PNG"))
        QFile::copy(png + ".png", QString::fromLocal8Bit(keep));
}

}  // namespace
}  // namespace tarvik
