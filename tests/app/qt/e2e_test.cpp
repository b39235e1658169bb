// End to end: the real executable in a temporary program directory, run on
// the offscreen platform, closed with SIGTERM like a session logout.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

class EndToEnd : public ::testing::Test {
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
    // Runs the program for runMs, then sends SIGTERM; returns the exit code.
    int RunAndTerminate(int runMs) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        // A decimal-comma locale (where installed): files still use points.
        env.insert("LC_ALL", "de_DE.UTF-8");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(QDir::tempPath());
        p.start(Exe, {});
        EXPECT_TRUE(p.waitForStarted(10000));
        QThread::msleep(runMs);
        EXPECT_EQ(p.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        EXPECT_TRUE(p.waitForFinished(15000)) << "did not close after SIGTERM";
        Output = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QTemporaryDir Dir;
    QString Exe;
    QByteArray Output;
};

TEST_F(EndToEnd, MeasuresClosesOnSigtermAndWritesTheConfigurationBack) {
    Write("QUORBELT.INI",
          "; kept comment\n[Main]\nSign=Network speed\n[Objects]\nNumber=1\n"
          "Object11=" + Dir.filePath("data.bin").toUtf8() + "\nObject15=2\nObject18=500\n"
          "[Buttons]\nPing objects=1\n[Scale]\nScale=50\n[Custom]\nMine=1\n");
    Write("data.bin", QByteArray(200000, 'x'));
    ASSERT_EQ(RunAndTerminate(6500), 0) << Output.toStdString();
    const QByteArray ini = Read("QUORBELT.INI");
    EXPECT_TRUE(ini.startsWith("; kept comment\n[Main]\nSign=Network speed")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("Number=1"));
    EXPECT_TRUE(ini.contains("Object15=2"));
    // The file was measured: its read speed text went into the saved cell.
    const int cell = ini.indexOf("Object13=");
    ASSERT_GE(cell, 0);
    const QByteArray text = ini.mid(cell, ini.indexOf('\n', cell) - cell);
    EXPECT_TRUE(text.contains("KBps")) << ini.toStdString();
    EXPECT_TRUE(text.contains('.') && !text.contains(',')) << text.toStdString();
    EXPECT_TRUE(ini.contains("Ping objects=1"));  // measuring was on at exit
    EXPECT_TRUE(ini.contains("Scale= 5.00000000000000E+0001"));
    EXPECT_TRUE(ini.contains("[Custom]\nMine=1"));
    // The trend files exist with the data file's header.
    EXPECT_GE(Read("KOR_VEL.D").size(), 12);
    EXPECT_TRUE(QFile::exists(Dir.filePath("KOR_VEL.ND")));
}

TEST_F(EndToEnd, FirstStartWritesAValidFile) {
    // Closed within five seconds: "Please wait", then the close.
    ASSERT_EQ(RunAndTerminate(1500), 0) << Output.toStdString();
    const QByteArray ini = Read("QUORBELT.INI");
    EXPECT_TRUE(ini.startsWith("[Main]\nSign=Network speed\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("[Dial_Up]"));
    EXPECT_TRUE(ini.contains("Dialog1=Connect To"));
    EXPECT_TRUE(ini.contains("Button3=Reconnect"));
    EXPECT_EQ(Read("KOR_VEL.D"), QByteArray(12, '\0'));
}

}  // namespace
