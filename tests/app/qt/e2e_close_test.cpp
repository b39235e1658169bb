// End to end: the real executable closed by SIGTERM while a modal message
// waits for an answer nobody will give: the read-error message of a damaged
// configuration at start, and the save's error message at close.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

class EndToEndClose : public ::testing::Test {
protected:
    void SetUp() override {
        const QString bin = qEnvironmentVariable("TARVIK_BINARY_DIR") + "/bin/tarvik";
        if (!QFile::exists(bin)) GTEST_SKIP() << "no executable at " << bin.toStdString();
        ASSERT_TRUE(Dir.isValid());
        Exe = Dir.filePath("tarvik");
        ASSERT_TRUE(QFile::copy(bin, Exe));
    }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile f(Dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray Read(const QString& name) {
        QFile f(Dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void Start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        P.setProcessEnvironment(env);
        P.setWorkingDirectory(QDir::tempPath());
        P.start(Exe, {});
        ASSERT_TRUE(P.waitForStarted(10000));
    }
    void Signal() { ::kill(static_cast<pid_t>(P.processId()), SIGTERM); }
    // Milliseconds until the program ended (-1: still running after limitMs,
    // then killed), and its exit code.
    std::pair<qint64, int> WaitForExit(int limitMs) {
        QElapsedTimer t;
        t.start();
        if (!P.waitForFinished(limitMs)) {
            P.kill();
            P.waitForFinished(5000);
            Output = P.readAllStandardError();
            return {-1, -1};
        }
        Output = P.readAllStandardError();
        return {t.elapsed(), P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1};
    }
    QTemporaryDir Dir;
    QString Exe;
    QProcess P;
    QByteArray Output;
};

// Within five seconds of the start the close waits three seconds in "Please
// wait"; with Stop and the closing wait it ends well within ten.
TEST_F(EndToEndClose, SigtermDuringTheReadErrorMessageCloses) {
    Write("QUORBELT.INI", "[Main]\nSign=damaged\n[Custom]\nMine=1\n");
    Write("KOR_VEL.D", QByteArray(12, '\0'));  // the program ran here before
    Start();
    QThread::msleep(1500);
    ASSERT_EQ(P.state(), QProcess::Running);
    Signal();
    const auto [ms, code] = WaitForExit(10000);
    ASSERT_GE(ms, 0) << "still running 10 s after SIGTERM\n" << Output.toStdString();
    EXPECT_EQ(code, 0) << Output.toStdString();
    EXPECT_TRUE(Output.contains("answered \"Tarvik\": An ERROR occured during reading parameters file"))
        << Output.toStdString();
    // Closed as Close does: the configuration is saved, foreign keys kept.
    const QByteArray ini = Read("QUORBELT.INI");
    EXPECT_TRUE(ini.contains("Sign=Network speed")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("[Custom]\nMine=1"));
}

// The configuration cannot be saved at close (a directory took its place): the
// "Error" message is answered, the measuring threads are ended and the
// program exits; a second SIGTERM during the close does no harm.
TEST_F(EndToEndClose, SigtermWhenTheSaveFailsStillEndsTheProgram) {
    Write("data.bin", QByteArray(100000, 'x'));
    Write("QUORBELT.INI", "[Main]\nSign=Network speed\n[Objects]\nNumber=2\n"
                          "Object11=" + Dir.filePath("data.bin").toUtf8() + "\nObject15=2\nObject18=200\n"
                          "Object21=" + Dir.path().toUtf8() + "\nObject25=1\nObject28=200\n"
                          "[Buttons]\nPing objects=1\n");
    Start();
    QThread::msleep(5500);  // measuring, and past the "Please wait" rule
    ASSERT_EQ(P.state(), QProcess::Running);
    ASSERT_TRUE(QFile::remove(Dir.filePath("QUORBELT.INI")));
    ASSERT_TRUE(QDir(Dir.path()).mkdir("QUORBELT.INI"));
    Signal();
    QThread::msleep(200);
    Signal();
    // Stop 1 s, closing wait 1 s, at most one grace of 0.3 s per thread.
    const auto [ms, code] = WaitForExit(8000);
    ASSERT_GE(ms, 0) << "still running 8 s after SIGTERM\n" << Output.toStdString();
    EXPECT_EQ(code, 0) << Output.toStdString();
    EXPECT_TRUE(Output.contains("answered \"Error\": An ERROR occurred during writing parameters file"))
        << Output.toStdString();
    EXPECT_FALSE(QFile::exists(Dir.filePath("DRV.TST")));  // the drive thread ended and cleaned up
}

}  // namespace
