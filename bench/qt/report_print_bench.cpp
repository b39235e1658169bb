// The printed trend report for 10 and 100 resources over a full day, with
// the texts measured on a 1200-dpi PDF printer: the layout alone, and the
// whole print (layout, painting, the PDF file written). Runs on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPrinter>
#include <QTemporaryDir>
#include <string>

#include "trend/qt/report_printer.h"

namespace {

using namespace tarvik;

TReportInput FullDay(int n) {
    TReportInput in;
    in.Scale = 500;
    in.DateCaption = "December 9, 2026, Wednesday";
    for (int i = 0; i < n; ++i) {
        TReportResource r;
        r.Address = "10.0.0." + std::to_string(i);
        r.Kind = static_cast<char>('1' + i % 3);
        r.WriteColor = "clRed";
        r.ReadColor = "clBlue";
        for (int s = 1; s <= 96; ++s)
            r.Day[s - 1] = {true, (s * 7 + i) % 600 * 1.0, (s * 3 + i) % 500 * 1.0,
                            (s * 5 + i) % 700 * 1.0};
        in.Resources.push_back(std::move(r));
    }
    return in;
}

const QFont kFont("Liberation Sans", 8, QFont::Bold);

void BM_ReportLayoutMeasured(benchmark::State& state) {
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(dir.filePath("bench.pdf"));
    TReportInput in = FullDay(static_cast<int>(state.range(0)));
    in.PageWidth = printer.width();
    in.PageWidthMm = printer.pageLayout().fullRect(QPageLayout::Millimeter).width();
    for (auto _ : state)
        benchmark::DoNotOptimize(LayOutTrendReport(in, DeviceTextMeasure(printer, kFont)));
}
BENCHMARK(BM_ReportLayoutMeasured)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_ReportPrintPdf(benchmark::State& state) {
    QTemporaryDir dir;
    const TReportInput in = FullDay(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFileName(dir.filePath("bench.pdf"));
        if (PrintTrendReport(printer, in, kFont) != TPrintResult::Printed)
            state.SkipWithError("the PDF printer refused the job");
    }
}
BENCHMARK(BM_ReportPrintPdf)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
