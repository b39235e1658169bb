// The sound player with real sounds: generated WAV files played through a
// PulseAudio null sink that the suite starts for itself.
#include "ui/player.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A mono 16-bit PCM WAV file with a quiet tone.
void WriteWav(const fs::path& path, double seconds) {
    constexpr std::uint32_t rate = 22050;
    const auto samples = static_cast<std::uint32_t>(seconds * rate);
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](std::uint16_t v) {
        out.put(static_cast<char>(v & 0xFF));
        out.put(static_cast<char>(v >> 8));
    };
    out << "RIFF";
    u32(36 + samples * 2);
    out << "WAVEfmt ";
    u32(16);
    u16(1);  // PCM
    u16(1);  // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    out << "data";
    u32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i)
        u16(static_cast<std::uint16_t>(
            static_cast<std::int16_t>(2000 * std::sin(2 * M_PI * 440.0 * i / rate))));
}

// A PulseAudio daemon with only a null sink, in a runtime directory of its
// own, so that playing needs no sound hardware and disturbs no one.
class TPulseServer {
  public:
    explicit TPulseServer(const fs::path& dir) {
        const std::string socket = (dir / "native").string();
        std::vector<std::string> args = {
            "pulseaudio",
            "-n",
            "--daemonize=no",
            "--exit-idle-time=-1",
            "--disallow-exit",
            "--use-pid-file=no",
            "--log-target=stderr",
            "-L",
            "module-null-sink",
            "-L",
            "module-native-protocol-unix socket=" + socket + " auth-anonymous=1"};
        std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + dir.string(), "HOME=" + dir.string()};
        for (char** e = environ; *e; ++e) {
            const std::string s = *e;
            if (!s.starts_with("XDG_RUNTIME_DIR=") && !s.starts_with("HOME=")) env.push_back(s);
        }
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawnp(&Pid_, "pulseaudio", &fa, nullptr, argv.data(), envp.data()) != 0)
            Pid_ = 0;
        posix_spawn_file_actions_destroy(&fa);
        for (int i = 0; i < 500 && Pid_ > 0 && !fs::exists(socket); ++i) {
            if (::waitpid(Pid_, nullptr, WNOHANG) == Pid_) {
                Pid_ = 0;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (Pid_ > 0 && fs::exists(socket)) Server_ = "unix:" + socket;
    }
    ~TPulseServer() {
        if (Pid_ > 0) {
            ::kill(Pid_, SIGTERM);
            ::waitpid(Pid_, nullptr, 0);
        }
    }
    const std::string& Server() const { return Server_; }

  private:
    pid_t Pid_ = 0;
    std::string Server_;
};

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

// Runs the event loop until everything posted before this call has run.
bool DrainPosted(QObject* context) {
    bool reached = false;
    QMetaObject::invokeMethod(context, [&] { reached = true; }, Qt::QueuedConnection);
    return WaitFor([&] { return reached; }, 2000);
}

class PlayerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        TPlayer::SelectMediaBackend();
        std::string pattern = (fs::temp_directory_path() / "tarvik-player-XXXXXX").string();
        Dir_ = ::mkdtemp(pattern.data());
        fs::permissions(Dir_, fs::perms::owner_all);
        Pulse_ = std::make_unique<TPulseServer>(Dir_);
        if (!Pulse_->Server().empty()) qputenv("PULSE_SERVER", Pulse_->Server().c_str());
        WriteWav(Dir_ / "one.wav", 1.0);
        WriteWav(Dir_ / "ten.wav", 10.0);
        std::ofstream(Dir_ / "noise.wav") << "this is not a sound file\n";
    }
    static void TearDownTestSuite() {
        Pulse_.reset();
        std::error_code ec;
        fs::remove_all(Dir_, ec);
    }
    void SetUp() override {
        if (Pulse_->Server().empty())
            GTEST_SKIP() << "no PulseAudio null sink could be started; sound player tests skipped";
        Player_ = std::make_unique<TPlayer>();
        Player_->ShowDeviceError = [this](const QString& text) { Errors_.push_back(text); };
        Device_ = Player_->findChild<QMediaPlayer*>();
        Progress_ = Player_->findChild<QProgressBar*>("Progress");
        ASSERT_NE(Device_, nullptr);
        ASSERT_NE(Progress_, nullptr);
        QObject::connect(Device_, &QMediaPlayer::mediaStatusChanged, Player_.get(),
                         [this](QMediaPlayer::MediaStatus s) {
                             if (s != QMediaPlayer::EndOfMedia) return;
                             ++Ends_;
                             EndedSources_.push_back(Device_->source().fileName());
                         });
    }
    static QString File(const char* name) { return QString::fromStdString((Dir_ / name).string()); }
    QPushButton* Button(const char* name) { return Player_->findChild<QPushButton*>(name); }
    // The timers are the only way a sound starts again or a close is asked
    // for: once both are off and the posted work has run, the player rests.
    bool WaitUntilAtRest() {
        return WaitFor([&] {
                   return !Player_->findChild<QTimer*>("Timer1")->isActive() &&
                          !Player_->findChild<QTimer*>("Timer2")->isActive();
               }, 3000) &&
               DrainPosted(Player_.get());
    }

    // Runs the modal test; `during` is called every 50 ms while it is open.
    // Returns false when the window had to be closed after `limitMs`.
    bool RunModal(int limitMs, const std::function<void(qint64 ms)>& during = {}) {
        QElapsedTimer clock;
        clock.start();
        bool forced = false;
        QTimer watch;
        watch.setInterval(50);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (during) during(clock.elapsed());
            if (clock.elapsed() > limitMs && Player_->isVisible()) {
                forced = true;
                Player_->reject();
            }
        });
        watch.start();
        Player_->exec();
        ModalMs_ = clock.elapsed();
        return !forced;
    }

    static fs::path Dir_;
    static std::unique_ptr<TPulseServer> Pulse_;
    std::unique_ptr<TPlayer> Player_;
    QMediaPlayer* Device_ = nullptr;
    QProgressBar* Progress_ = nullptr;
    std::vector<QString> Errors_;
    int Ends_ = 0;
    std::vector<QString> EndedSources_;
    qint64 ModalMs_ = 0;
};
fs::path PlayerTest::Dir_;
std::unique_ptr<TPulseServer> PlayerTest::Pulse_;

TEST_F(PlayerTest, ControlsAndTheirTexts) {
    EXPECT_EQ(Player_->windowTitle(), "Phonograph");
    EXPECT_NE(Player_->findChild<QLabel*>("LabelFileName"), nullptr);
    EXPECT_NE(Player_->findChild<QWidget*>("MediaPlayer1"), nullptr);
    for (const char* b : {"PlayButton", "StopButton", "PrevButton"})
        EXPECT_NE(Button(b), nullptr) << b;
    EXPECT_FALSE(Progress_->isTextVisible());
    for (const char* t : {"Timer1", "Timer2"}) {
        const QTimer* timer = Player_->findChild<QTimer*>(t);
        ASSERT_NE(timer, nullptr) << t;
        EXPECT_EQ(timer->interval(), 100);
        EXPECT_FALSE(timer->isActive());
    }
}

TEST_F(PlayerTest, BackgroundPlayRunsToItsEndWithoutShowing) {
    QElapsedTimer t;
    t.start();
    Player_->PlayFile(File("one.wav"));
    EXPECT_FALSE(Player_->isVisible());
    ASSERT_TRUE(WaitFor([&] { return Ends_ > 0; }, 6000));
    EXPECT_GE(t.elapsed(), 800);  // it really played the second
    EXPECT_FALSE(Player_->isVisible());
    ASSERT_TRUE(WaitUntilAtRest());
    EXPECT_EQ(Device_->playbackState(), QMediaPlayer::StoppedState);  // not started again
    EXPECT_TRUE(Errors_.empty());
}

TEST_F(PlayerTest, NextSoundCutsOffThePreviousAndStartsFromItsBeginning) {
    QElapsedTimer t;
    t.start();
    Player_->PlayFile(File("ten.wav"));
    ASSERT_TRUE(WaitFor([&] { return Device_->position() > 300; }, 6000));
    Player_->PlayFile(File("one.wav"));
    ASSERT_TRUE(WaitFor([&] { return Device_->position() > 300; }, 6000));
    Player_->PlayFile(File("one.wav"));  // the same file again: from its start
    const qint64 restart = t.elapsed();
    EXPECT_LT(Device_->position(), 300);
    ASSERT_TRUE(WaitFor([&] { return Ends_ > 0; }, 6000));
    EXPECT_GE(t.elapsed() - restart, 800);
    ASSERT_TRUE(WaitUntilAtRest());
    EXPECT_EQ(EndedSources_, std::vector<QString>{"one.wav"});
    EXPECT_EQ(Device_->duration() / 100, 10);  // the one-second sound's length
}

TEST_F(PlayerTest, ModalTestShowsMovesTheGaugeAndClosesAtTheEnd) {
    Player_->SetFileName(File("one.wav"));
    EXPECT_FALSE(Player_->isVisible());
    int maxSeen = 0, gaugeMax = 0;
    ASSERT_TRUE(RunModal(8000, [&](qint64) {
        maxSeen = std::max(maxSeen, Progress_->value());
        gaugeMax = Progress_->maximum();
    }));
    EXPECT_GE(ModalMs_, 800);
    EXPECT_FALSE(Player_->isVisible());
    EXPECT_EQ(Player_->findChild<QLabel*>("LabelFileName")->text(), File("one.wav"));
    EXPECT_GT(gaugeMax, 900);  // the length in ms
    EXPECT_GT(maxSeen, 0);
    EXPECT_TRUE(Errors_.empty());
}

TEST_F(PlayerTest, StopLeavesTheTestOpenAndPlayClosesItAtTheEnd) {
    Player_->SetFileName(File("one.wav"));
    bool stopped = false, openAfterStop = false, played = false;
    ASSERT_TRUE(RunModal(9000, [&](qint64 ms) {
        if (!stopped && ms >= 300) {
            stopped = true;
            QTest::mouseClick(Button("StopButton"), Qt::LeftButton);
        }
        if (!played && ms >= 1800) {
            played = true;
            openAfterStop = Player_->isVisible();
            QTest::mouseClick(Button("PlayButton"), Qt::LeftButton);
        }
    }));
    EXPECT_TRUE(openAfterStop);
    EXPECT_GE(ModalMs_, 2600);  // 1.8 s + a whole second played again
    EXPECT_EQ(Ends_, 1);
}

TEST_F(PlayerTest, ModalTestWithoutFileStaysOpen) {
    Player_->SetFileName("");
    EXPECT_FALSE(RunModal(700));
    EXPECT_EQ(Device_->playbackState(), QMediaPlayer::StoppedState);
}

TEST_F(PlayerTest, UnplayableFileGivesTheDeviceError) {
    Player_->SetFileName(File("noise.wav"));
    ASSERT_TRUE(RunModal(8000));  // the window does not stay open
    ASSERT_TRUE(WaitFor([&] { return !Errors_.empty(); }, 2000));
    EXPECT_FALSE(Errors_.front().isEmpty());
    ASSERT_TRUE(WaitUntilAtRest());
    EXPECT_EQ(Errors_.size(), 1u) << Errors_.back().toStdString();

    Errors_.clear();
    Player_->PlayFile(File("missing.wav"));
    ASSERT_TRUE(WaitFor([&] { return !Errors_.empty(); }, 4000));
    EXPECT_FALSE(Errors_.front().isEmpty());
    EXPECT_FALSE(Player_->isVisible());
    ASSERT_TRUE(WaitUntilAtRest());
    EXPECT_EQ(Errors_.size(), 1u);
}

TEST_F(PlayerTest, EmptyFileNameInTheBackgroundPlaysNothing) {
    Player_->PlayFile("");
    ASSERT_TRUE(DrainPosted(Player_.get()));  // the close it posted has run
    EXPECT_EQ(Device_->playbackState(), QMediaPlayer::StoppedState);
    EXPECT_FALSE(Player_->isVisible());
    EXPECT_TRUE(Errors_.empty());
}

}  // namespace
}  // namespace tarvik
