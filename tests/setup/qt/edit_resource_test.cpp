#include "setup/qt/edit_resource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "setup/qt/set_event.h"
#include "setup/qt/set_url.h"
#include "support/qt/wait_for.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

class WizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Env.Table = &Table;
        Env.UserKnownCDFileSize = &KnownSize;
        Env.ConnectWindowsTable = &Dial;
        Env.HomeDir = Home.path().toStdString();
        Env.MainFont = {"Sans Serif", 9, true, false, clBlack, 1};
        Env.EditLineFont = {"Sans Serif", 9, false, true, clLime, 1};
        Env.SetKeeper = [this](bool on, int ms) {
            KeeperOn = on;
            KeeperMs = ms;
        };
        Env.Exec = [this](QDialog& d) { return Answer ? Answer(d) : 2; };
        // A marker message: a question asked later replaces it.
        TMsgDialog::SetNextAnswer(1);
        Messages.Execute("Probe", "probe");
    }
    void TearDown() override { Messages.NeverAsk->setChecked(false); }
    std::unique_ptr<TEditResource> Show() {
        auto w = std::make_unique<TEditResource>(nullptr, Env);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        QApplication::processEvents();
        return w;
    }
    // Next with the message dialog answering `answer`; true when it asked.
    bool NextAnswering(TEditResource& w, int answer) {
        TMsgDialog::SetNextAnswer(1);
        Messages.Execute("Probe", "probe");
        TMsgDialog::SetNextAnswer(answer);
        w.NextClick();
        const bool asked = TMsgDialog::LastTitle() != "Probe";
        if (!asked) Messages.Execute("Probe", "probe");  // consumes the unused answer
        return asked;
    }
    std::string Sized(const char* name, off_t size) {
        const std::string path = Home.filePath(name).toStdString();
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return path;
    }

    TMsgDialog Messages;
    QTemporaryDir Home;
    TResourceTable Table;
    bool KnownSize = false;
    std::vector<TConnectWindowsRow> Dial{{}, {"Connect To", "Connect"}, {"Redial", "Cancel"}, {}};
    bool KeeperOn = false;
    int KeeperMs = -1;
    std::function<int(QDialog&)> Answer;
    TWizardEnvironment Env;
};

TEST_F(WizardTest, AddModeOffersPagesZeroToFourStartingOnTheResourcePage) {
    auto w = Show();
    EXPECT_EQ(w->windowTitle(), "Adding new resource");
    EXPECT_EQ(w->Notebook1->currentIndex(), 1);
    EXPECT_EQ(w->PagesHidden, 3);
    EXPECT_TRUE(w->IP->isChecked());
    EXPECT_EQ(w->Path->text(), "localhost");
    EXPECT_EQ(w->ReadColour, 0x00FF00u);   // lime
    EXPECT_EQ(w->WriteColour, 0x00FFFFu);  // yellow
    EXPECT_EQ(w->ReadColor->palette().color(QPalette::Window), QColor(0, 255, 0));
    EXPECT_EQ(w->PingDelay->value(), 1000);
    EXPECT_EQ(w->TimeOut->value(), 30000);
    EXPECT_FALSE(w->SizeOfPacket->isEnabled());
    EXPECT_EQ(w->MaxSpeed->Text(), "2");
    EXPECT_EQ(w->Page2_Topic->font().family(), w->font().family());
    EXPECT_TRUE(w->Page2_Topic->font().bold());  // the main window's font
    EXPECT_TRUE(w->Path->font().italic());       // the edit-line font
    EXPECT_TRUE(w->Previos->isEnabled());
    for (int page = 2; page <= 4; ++page) {
        EXPECT_FALSE(NextAnswering(*w, 1));
        EXPECT_EQ(w->Notebook1->currentIndex(), page);
    }
    EXPECT_EQ(w->CloseBtn->text(), "&Finish");
    EXPECT_FALSE(w->Next->isEnabled());
    for (int i = 0; i < 6; ++i) w->PrevClick();
    EXPECT_EQ(w->Notebook1->currentIndex(), 0);
    EXPECT_FALSE(w->Previos->isEnabled());
    EXPECT_EQ(w->CloseBtn->text(), "&Cancel");
    w->CloseBtnClick();
    EXPECT_EQ(w->result(), mrCancel);
}

TEST_F(WizardTest, TakesTheConfiguredFontsUnderAStyledOwner) {
    QWidget owner;
    owner.setStyleSheet("QPushButton:checked { border: 2px inset #505050; }");
    auto w = std::make_unique<TEditResource>(&owner, Env);
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_TRUE(w->Page2_Topic->font().bold());
    EXPECT_TRUE(w->Next->font().bold());
    EXPECT_EQ(w->Page2_Topic->font().pointSize(), 9);
    EXPECT_TRUE(w->Path->font().italic());
}

TEST_F(WizardTest, FinishOnTheLastPageAndEnterOnPageOneAccept) {
    auto w = Show();
    w->NetwDrive->click();
    w->Path->setText("/");  // the root file system: Next would ask
    QTest::keyClick(w->Path, Qt::Key_Return);
    EXPECT_EQ(w->result(), mrOk);
    EXPECT_EQ(TMsgDialog::LastTitle(), "Probe");  // no question
    EXPECT_EQ(w->Values().Kind, '1');

    auto f = Show();
    f->Notebook1->setCurrentIndex(4);
    f->CloseBtnClick();
    EXPECT_EQ(f->result(), mrOk);
}

TEST_F(WizardTest, FirstStartOffersEveryPageAndAppliesTheDialUpPage) {
    Env.FirstStart = true;
    Env.KeeperOn = true;
    Env.KeeperIntervalMs = 7500;
    auto w = Show();
    EXPECT_EQ(w->Notebook1->currentIndex(), 0);
    EXPECT_EQ(w->LastOfferedPage(), 6);
    EXPECT_FALSE(w->Previos->isEnabled());
    EXPECT_TRUE(w->WWWAddress->text().contains("underline"));
    EXPECT_TRUE(w->KeppDialUp->isChecked());
    EXPECT_EQ(w->DialUpTimeout->value(), 7);
    ASSERT_EQ(w->ConnectWindowsTable->rowCount(), 3);
    EXPECT_EQ(w->ConnectWindowsTable->item(1, 0)->text(), "Redial");
    w->ConnectWindowsTable->item(2, 0)->setText("Dialer");  // typed into the last row
    EXPECT_EQ(w->ConnectWindowsTable->rowCount(), 4);
    w->DialUpTimeout->setValue(2);
    w->Notebook1->setCurrentIndex(6);
    EXPECT_EQ(w->CloseBtn->text(), "&Finish");
    w->CloseBtnClick();
    EXPECT_EQ(w->result(), mrOk);
    ASSERT_EQ(Dial.size(), 5u);
    EXPECT_EQ(Dial[3][0], "Dialer");
    EXPECT_TRUE(KeeperOn);
    EXPECT_EQ(KeeperMs, 2000);
}

TEST_F(WizardTest, AddModeLeavesTheKeeperAlone) {
    auto w = Show();
    QTest::keyClick(w->Path, Qt::Key_Return);
    EXPECT_EQ(KeeperMs, -1);
    EXPECT_EQ(Dial.size(), 4u);
}

TEST_F(WizardTest, HardDriveQuestionOnTheRootFileSystemOnly) {
    auto w = Show();
    w->NetwDrive->click();
    w->Path->setText(QDir::homePath() + "/not-made-yet");
    struct stat root {
    }, home{};
    ::stat("/", &root);
    ::stat(QDir::homePath().toLocal8Bit().constData(), &home);
    if (root.st_dev == home.st_dev) {
        EXPECT_TRUE(NextAnswering(*w, 2));
        EXPECT_EQ(w->Notebook1->currentIndex(), 1);  // No keeps the page
        w->Path->setText("/");
        TMsgDialog::SetNextAnswer(1);
        w->NextClick();
        EXPECT_EQ(TMsgDialog::LastTitle(), "Warning");
        EXPECT_EQ(TMsgDialog::LastText().toStdString(), HardDriveQuestion);
        EXPECT_EQ(w->Notebook1->currentIndex(), 2);
        w->PrevClick();
    }
    struct stat shm {};
    if (::stat("/dev/shm", &shm) != 0 || shm.st_dev == root.st_dev)
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";
    w->Path->setText("/dev/shm");
    EXPECT_FALSE(NextAnswering(*w, 2));
    EXPECT_EQ(w->Notebook1->currentIndex(), 2);
}

TEST_F(WizardTest, HostCandidateReplacesTheAddressOnYes) {
    struct TCase {
        const char* Path;
        int Answer;
        const char* After;
    };
    for (const TCase& c : {TCase{"http://www.example.com/dir/page.html", 1, "www.example.com"},
                           TCase{"ftp.example.org/pub", 1, "pub"}, TCase{"http://", 1, ""},
                           TCase{"http://host/x", 2, "http://host/x"}}) {
        auto w = Show();
        w->Path->setText(c.Path);
        EXPECT_TRUE(NextAnswering(*w, c.Answer)) << c.Path;
        EXPECT_EQ(w->Path->text(), c.After);
        EXPECT_EQ(w->Notebook1->currentIndex(), 2);  // advances either way
    }
    auto w = Show();
    w->Path->setText("10.1.1.113");
    EXPECT_FALSE(NextAnswering(*w, 1));
}

TEST_F(WizardTest, SmallReadOnlyFileAsksUnlessTheUserKnows) {
    auto w = Show();
    w->CDROM->click();
    w->Path->setText(QString::fromStdString(Sized("small", 5119999)));
    Messages.NeverAsk->setChecked(true);
    TMsgDialog::SetNextAnswer(2);
    w->NextClick();
    EXPECT_TRUE(TMsgDialog::LastText().startsWith("The file has size 4999 KB.\r\r"));
    EXPECT_EQ(w->Notebook1->currentIndex(), 1);  // No keeps the page
    EXPECT_TRUE(KnownSize);                      // the tick is stored whatever the answer
    // Known: the file is not even opened (a missing one gives no access error).
    w->Path->setText(Home.filePath("missing"));
    EXPECT_FALSE(NextAnswering(*w, 1));
    EXPECT_EQ(w->Notebook1->currentIndex(), 2);
    w->PrevClick();
    KnownSize = false;
    w->Path->setText(QString::fromStdString(Sized("big", 5120000)));
    EXPECT_FALSE(NextAnswering(*w, 1));
    EXPECT_EQ(w->Notebook1->currentIndex(), 2);
    w->PrevClick();
    w->Path->setText(Home.filePath("missing"));
    TMsgDialog::SetNextAnswer(1);
    w->NextClick();
    EXPECT_EQ(TMsgDialog::LastText(), "\rFile access error!");
    EXPECT_EQ(w->Notebook1->currentIndex(), 2);
}

TEST_F(WizardTest, WithoutIcmpTheHostKindIsDisabled) {
    Env.IcmpAvailable = false;
    auto w = Show();
    EXPECT_FALSE(w->IP->isEnabled());
    EXPECT_TRUE(w->NetwDrive->isChecked());
    EXPECT_EQ(w->Path->text(), "/");
    EXPECT_EQ(w->Page2_Topic->text(), "Select a file server directory for speed measurement.");
}

TEST_F(WizardTest, PagesFollowTheKind) {
    auto w = Show();
    struct TCase {
        QRadioButton* Kind;
        const char* ReadLabel;
        bool Write, Size, Timeout;
    };
    for (const TCase& c : {TCase{w->IP, "Ping Color :", false, true, true},
                           TCase{w->NetwDrive, "Read Color :", true, true, false},
                           TCase{w->CDROM, "Read Color :", false, false, false}}) {
        w->Notebook1->setCurrentIndex(1);
        c.Kind->click();
        w->Notebook1->setCurrentIndex(2);
        EXPECT_EQ(w->LabelReadColor->text(), c.ReadLabel);
        EXPECT_EQ(w->WriteColor->isVisible(), c.Write) << c.ReadLabel;
        EXPECT_EQ(w->LabelWriteColor->isVisible(), c.Write);
        w->Notebook1->setCurrentIndex(3);
        EXPECT_EQ(w->SizeofPacketPanel->isVisible(), c.Size);
        EXPECT_EQ(w->TimeoutPanel->isVisible(), c.Timeout);
    }
    w->DefAuto->click();
    EXPECT_TRUE(w->SizeOfPacket->isEnabled());
}

TEST_F(WizardTest, BrowseOffersBookmarksOnlyWhenThereAreSome) {
    auto w = Show();
    EXPECT_FALSE(w->Browse->isVisibleTo(w.get()));
    QDir(Home.path()).mkpath("Favorites");
    QFile f(Home.filePath("Favorites/Debian.URL"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[InternetShortcut]\r\nURL=http://www.debian.org/\r\n");
    f.close();
    w->IP->click();  // rebuilds the list
    EXPECT_TRUE(w->Browse->isVisibleTo(w.get()));
    QString header;
    Answer = [&](QDialog& d) {
        auto* picker = dynamic_cast<TSetURL*>(&d);
        if (!picker) return 2;
        header = picker->URLList->horizontalHeaderItem(1)->text();
        picker->URLList->selectRow(0);
        return 1;
    };
    w->BrowseClick();
    EXPECT_EQ(header, "Address");
    EXPECT_EQ(w->Path->text(), "http://www.debian.org/");
    w->NetwDrive->click();
    EXPECT_TRUE(w->Browse->isVisibleTo(w.get()));
}

TEST_F(WizardTest, EditModeLoadsTheRowAtTheFirstPaint) {
    const int row = Table.AddRow();
    TWizardValues v;
    v.Kind = '2';
    v.Path = "/srv/cd/file.iso";
    v.ReadColor = 0x0000FF;
    v.PingDelay = "2500";
    v.DefAuto = false;
    v.SizeOfPacket = "2048";
    v.MinSpeed = "1.5";
    v.PerformMinSpeed = true;
    v.MinEvent.WinTitle = "Dialer";
    WriteResourceRow(Table, row, v, true);
    Env.CurrentRow = row;
    auto w = std::make_unique<TEditResource>(nullptr, Env);
    w->EditMode = true;
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    ASSERT_TRUE(test::WaitFor([&] { return !w->EditMode; }));
    EXPECT_EQ(w->windowTitle(), "Editing resource");
    EXPECT_TRUE(w->CDROM->isChecked());
    EXPECT_EQ(w->Path->text(), "/srv/cd/file.iso");
    EXPECT_EQ(w->PingDelay->value(), 2500);
    EXPECT_EQ(w->SizeOfPacket->value(), 2048);
    EXPECT_EQ(w->MinSpeed->Text(), "1.5");
    EXPECT_TRUE(w->PerformMinSpeed->isChecked());
    const TWizardValues back = w->Values();
    EXPECT_EQ(back.ReadColor, 0x0000FFu);
    EXPECT_EQ(back.MinEvent.WinTitle, "Dialer");
    EXPECT_EQ(back.Kind, '2');
}

TEST_F(WizardTest, EventDialogExchange) {
    auto w = Show();
    QString caption, resetCaption;
    Answer = [&](QDialog& d) {
        auto* e = dynamic_cast<TSetEvent*>(&d);
        if (!e) return 2;
        caption = e->windowTitle();
        resetCaption = e->ResetCounter->text();
        e->RunFileName->setText("xterm");
        e->RunDirectory->setText("/tmp");
        e->PerfOnceBtn->setChecked(false);
        e->RunPrgBtn->setChecked(true);
        return 1;
    };
    w->MinSpeedEventClick();
    EXPECT_EQ(caption, "Min speed action setup");
    EXPECT_EQ(resetCaption, "Enable to perform max speed event after that.");
    EXPECT_TRUE(w->PerformMinSpeed->isChecked());
    EXPECT_EQ(w->MinEvent.RunFileName, "xterm");
    EXPECT_EQ(w->MinEvent.PerformOnce, "0");
    EXPECT_EQ(w->MinEvent.ActionKind, "1");
    EXPECT_EQ(w->MinEvent.EventTimeout, "3");

    // Cancel after changes: the event and its tick stay exactly as they were.
    const TSpeedEvent before = w->MinEvent;
    Answer = [](QDialog& d) {
        if (auto* e = dynamic_cast<TSetEvent*>(&d)) e->RunFileName->clear();
        return 2;
    };
    w->MinSpeedEventClick();
    EXPECT_EQ(w->MinEvent.RunFileName, before.RunFileName);
    EXPECT_TRUE(w->PerformMinSpeed->isChecked());

    // OK with all four texts empty switches the event off, the directory notwithstanding.
    Answer = [](QDialog& d) {
        if (auto* e = dynamic_cast<TSetEvent*>(&d)) e->RunFileName->clear();
        return 1;
    };
    w->MinSpeedEventClick();
    EXPECT_FALSE(w->PerformMinSpeed->isChecked());
    EXPECT_EQ(w->MinEvent.RunDirectory, "/tmp");

    Answer = [&](QDialog& d) {
        if (auto* e = dynamic_cast<TSetEvent*>(&d)) caption = e->windowTitle();
        return 2;
    };
    w->MaxSpeedEventClick();
    EXPECT_EQ(caption, "Max speed action setup");
}

}  // namespace
}  // namespace tarvik
