// The trend report sent to a real CUPS scheduler: the test starts its own
// cupsd on a socket in a temporary directory, adds a queue, prints through
// Qt's CUPS support and reads the job back from the scheduler.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "trend/qt/report_printer.h"

namespace tarvik {
namespace {

constexpr const char* kQueue = "tarvik-report-test";

class TScheduler {
  public:
    explicit TScheduler(const QString& root) : Root_(root) {}
    ~TScheduler() {
        if (Started_) Tool("lpadmin", {"-x", kQueue});
        if (Cupsd_.state() != QProcess::NotRunning) {
            Cupsd_.terminate();  // SIGTERM to the pid we started
            if (!Cupsd_.waitForFinished(10000)) {
                Cupsd_.kill();
                Cupsd_.waitForFinished(5000);
            }
        }
    }

    QString Socket() const { return Root_ + "/cups.sock"; }
    QString Path(const QString& name) const { return Root_ + "/" + name; }

    // Runs a CUPS client tool against this scheduler; its exit code, output in `out`.
    int Tool(const QString& program, const QStringList& args, QString* out = nullptr,
             const std::vector<std::pair<QString, QString>>& extraEnv = {}) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CUPS_SERVER", Socket());
        for (const auto& [name, value] : extraEnv) env.insert(name, value);
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (out) *out = QString::fromUtf8(p.readAll());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    bool Start(QString& error) {
        for (const char* dir : {"conf", "spool", "cache", "state", "tmp", "log"})
            QDir(Root_).mkpath(dir);
        Write("conf/cupsd.conf",
              "Listen " + Socket() +
                  "\nLogLevel debug\nWebInterface No\nBrowsing No\nBrowseLocalProtocols none\n"
                  "DefaultAuthType None\n<Location />\n  Order allow,deny\n  Allow all\n"
                  "</Location>\n<Policy default>\n  JobPrivateAccess all\n"
                  "  JobPrivateValues none\n  SubscriptionPrivateAccess all\n"
                  "  SubscriptionPrivateValues none\n  <Limit All>\n    Order allow,deny\n"
                  "    Allow all\n  </Limit>\n</Policy>\nDefaultPolicy default\n");
        Write("conf/cups-files.conf",
              "ServerRoot " + Path("conf") + "\nRequestRoot " + Path("spool") + "\nCacheDir " +
                  Path("cache") + "\nStateDir " + Path("state") + "\nTempDir " + Path("tmp") +
                  "\nAccessLog " + Path("log/access_log") + "\nErrorLog " + Path("log/error_log") +
                  "\nPageLog " + Path("log/page_log") +
                  "\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\n");
        Cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        Cupsd_.start(QStandardPaths::findExecutable("cupsd", {"/usr/sbin", "/sbin"}),
                     {"-f", "-c", Path("conf/cupsd.conf"), "-s", Path("conf/cups-files.conf")});
        if (!Cupsd_.waitForStarted(10000)) {
            error = "cupsd did not start: " + Cupsd_.errorString();
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        QString out;
        while (Tool("lpstat", {"-r"}, &out) != 0 || !out.contains("scheduler is running")) {
            if (Cupsd_.state() == QProcess::NotRunning || clock.elapsed() > 20000) {
                error = "cupsd is not answering: " + QString::fromUtf8(Cupsd_.readAll()) + Log();
                return false;
            }
            QThread::msleep(100);
        }
        Started_ = true;
        // A raw queue: the job keeps the PDF Qt produced.
        if (Tool("lpadmin", {"-p", kQueue, "-E", "-v", "file:///dev/null", "-m", "raw"}, &out) !=
            0) {
            error = "lpadmin: " + out;
            return false;
        }
        return true;
    }

    QString Log() const {
        QFile f(Path("log/error_log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().right(4000)) : QString();
    }
    QString PageLog() const {
        QFile f(Path("log/page_log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

  private:
    void Write(const QString& name, const QString& text) const {
        QFile f(Path(name));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(text.toUtf8());
    }

    QString Root_;
    QProcess Cupsd_;
    bool Started_ = false;
};

TEST(ReportCups, JobArrivesWithItsTitleAndOnePage) {
    for (const char* tool : {"lpadmin", "lpstat", "lpq", "cupsenable", "cupsdisable", "pdfinfo"})
        if (QStandardPaths::findExecutable(tool, {"/usr/sbin", "/usr/bin", "/sbin"}).isEmpty())
            GTEST_SKIP() << tool
                         << " is not installed (Debian packages cups, cups-client, cups-bsd, "
                            "poppler-utils)";
    if (QStandardPaths::findExecutable("cupsd", {"/usr/sbin", "/sbin"}).isEmpty())
        GTEST_SKIP() << "cupsd is not installed (Debian package cups)";

    QTemporaryDir dir;  // short path: the socket name must fit sun_path
    ASSERT_TRUE(dir.isValid());
    TScheduler cups(dir.path());
    QString error;
    ASSERT_TRUE(cups.Start(error)) << error.toStdString();
    // A stopped queue holds the job, so the scheduler can be asked about it.
    ASSERT_EQ(cups.Tool("cupsdisable", {kQueue}), 0);

    // libcups settles on its scheduler once per process, so the report is
    // printed by a fresh copy of this test program that knows only ours.
    QString child;
    const int rc = cups.Tool(QFile::symLinkTarget("/proc/self/exe"),
                             {"--gtest_filter=ReportCupsChild.DISABLED_PrintsTheReport",
                              "--gtest_also_run_disabled_tests"},
                             &child, {{"TARVIK_REPORT_CUPS_CHILD", "1"}});
    ASSERT_EQ(rc, 0) << child.toStdString() << cups.Log().toStdString();
    ASSERT_TRUE(child.contains("[       OK ] ReportCupsChild.DISABLED_PrintsTheReport"))
        << child.toStdString();

    // The job is queued under the report's title ...
    QString queue;
    cups.Tool("lpq", {"-l", "-P", kQueue}, &queue);
    EXPECT_TRUE(queue.contains("Network speed trend")) << queue.toStdString();
    // ... and its document is the one-page PDF.
    const QStringList docs = QDir(cups.Path("spool")).entryList({"d*-001"}, QDir::Files);
    ASSERT_EQ(docs.size(), 1) << cups.Log().toStdString();
    QProcess info;
    info.start("pdfinfo", {cups.Path("spool/" + docs.front())});
    info.waitForFinished(30000);
    const QString pdf = QString::fromUtf8(info.readAllStandardOutput());
    EXPECT_TRUE(pdf.contains(QRegularExpression("Pages:\\s+1\\n"))) << pdf.toStdString();

    // Started again, the queue prints it and logs it by title.
    ASSERT_EQ(cups.Tool("cupsenable", {kQueue}), 0);
    QElapsedTimer clock;
    clock.start();
    while (!cups.PageLog().contains("Network speed trend") && clock.elapsed() < 20000)
        QThread::msleep(100);
    EXPECT_TRUE(cups.PageLog().contains(QString(kQueue) + " ")) << cups.Log().toStdString();
    EXPECT_TRUE(cups.PageLog().contains("Network speed trend")) << cups.Log().toStdString();
}

// The printing half, run only by the test above, in a process of its own
// with CUPS_SERVER naming the test's scheduler.
TEST(ReportCupsChild, DISABLED_PrintsTheReport) {
    if (qEnvironmentVariableIsEmpty("TARVIK_REPORT_CUPS_CHILD"))
        GTEST_SKIP() << "run by ReportCups.JobArrivesWithItsTitleAndOnePage";

    TPrintTrendHooks hooks;
    hooks.PrintDialog = [](QPrinter& printer) {
        printer.setPrinterName(kQueue);
        return printer.isValid() && printer.printerName() == kQueue;
    };
    hooks.PeriodDialog = [] { return std::optional<TReportPeriod>(TReportPeriod{0, 96}); };
    hooks.Content = [] {
        TReportContent c;
        c.Scale = 50;
        c.DateCaption = "December 9, 2026, Wednesday";
        TReportResource host;
        host.Address = "192.0.2.7";
        host.Kind = '3';
        host.ReadColor = "clBlue";
        for (int s = 1; s <= 96; ++s) host.Day[s - 1] = {true, 0, 0, s % 40 + 1.0};
        c.Resources = {host};
        return c;
    };
    hooks.Today = [] { return 46365.5; };
    QString printError;
    hooks.ShowError = [&](const QString& m) { printError = m; };
    QPrinter printer(QPrinter::HighResolution);
    ASSERT_EQ(PrintTrendClick(printer, hooks), TPrintResult::Printed) << printError.toStdString();
}

}  // namespace
}  // namespace tarvik
