#include "setup/qt/set_event.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QVBoxLayout>

#include "setup/qt/set_url.h"
#include "ui/help.h"
#include "ui/player.h"

namespace tarvik {
namespace {

class TEventTestActions final : public ISpeedEventActions {
  public:
    // Run and close go off the window thread like the events' own actions;
    // what comes back after the dialog is gone is dropped with Context_.
    explicit TEventTestActions(TPlayer* player)
        : Player_(player),
          System_(nullptr, [this](std::function<void()> work) {
              QMetaObject::invokeMethod(&Context_, std::move(work), Qt::QueuedConnection);
          }) {}
    void PlaySound(const std::string& fileName) override {
        if (!Player_) return;
        Player_->SetFileName(QString::fromStdString(fileName));
        Player_->exec();  // plays on showing and closes itself at the end
    }
    void RunProgram(const std::string& commandLine, const std::string& directory) override {
        System_.RunProgram(commandLine, directory);
    }
    void CloseProgramByFile(const std::string& fileName) override {
        System_.CloseProgramByFile(fileName);
    }
    void CloseWindowsByTitle(const std::string& titleText) override {
        System_.CloseWindowsByTitle(titleText);
    }

  private:
    TPlayer* Player_;
    QObject Context_;
    TSystemSpeedEventActions System_;
};

// Lists directories and executable files: the Linux form of a "*.exe" mask.
class TExecutableFilter : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        auto* model = qobject_cast<QFileSystemModel*>(sourceModel());
        if (!model) return true;
        const QFileInfo info = model->fileInfo(model->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }
};

QPushButton* Button(const QString& caption, const char* name, int context, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    if (context > 0) b->setProperty("helpContext", context);
    return b;
}

QLineEdit* Edit(const char* name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(255);
    e->setMinimumWidth(220);
    return e;
}

QLabel* Label(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}

}  // namespace

std::unique_ptr<ISpeedEventActions> MakeEventTestActions(TPlayer* player) {
    return std::make_unique<TEventTestActions>(player);
}

TSetEvent::TSetEvent(QWidget* parent) : QDialog(parent) {
    setObjectName("SetEvent");
    setWindowTitle("Event Setup");
    setToolTip("Press F1 or right mouse button for help.");
    ListWindows = [] { return ListTopLevelWindows(); };

    PerfOnceBtn = new QCheckBox("Perform once", this);
    PerfOnceBtn->setObjectName("PerfOnceBtn");
    PerfOnceBtn->setChecked(true);
    PerfOnceBtn->setProperty("helpContext", 303);
    ResetCounter = new QCheckBox("Enable to perform Min speed event after that", this);
    ResetCounter->setObjectName("ResetCounter");
    ResetCounter->setChecked(true);
    ResetCounter->setProperty("helpContext", 305);
    PerfTimeBtn = new TTextSpinBox(0, 100000, this);
    PerfTimeBtn->setObjectName("PerfTimeBtn");
    PerfTimeBtn->SetText("10");
    PerfTimeBtn->setMinimumWidth(PerfTimeBtn->fontMetrics().horizontalAdvance("1000000") + 40);

    auto* playBox = new QGroupBox(this);
    PlaySoundBtn = new QRadioButton("Play a sound:", playBox);
    PlaySoundBtn->setObjectName("PlaySoundBtn");
    PlaySoundBtn->setChecked(true);
    PlaySoundBtn->setProperty("helpContext", 306);
    PlayFileName = Edit("PlayFileName", playBox);
    PlayBrowse = Button("&Browse...", "PlayBrowse", 308, playBox);
    PlayTest = Button("&Test", "PlayTest", 309, playBox);

    auto* runBox = new QGroupBox(this);
    RunPrgBtn = new QRadioButton("Run a program:", runBox);
    RunPrgBtn->setObjectName("RunPrgBtn");
    RunPrgBtn->setProperty("helpContext", 310);
    RunFileName = Edit("RunFileName", runBox);
    RunDirectory = Edit("RunDirectory", runBox);
    RunBrowse = Button("B&rowse...", "RunBrowse", 311, runBox);
    RunTest = Button("T&est", "RunTest", 309, runBox);

    auto* closeBox = new QGroupBox(this);
    ClosePrgBtn = new QRadioButton("Close a program:", closeBox);
    ClosePrgBtn->setObjectName("ClosePrgBtn");
    ClosePrgBtn->setProperty("helpContext", 313);
    CloseFileName = Edit("CloseFileName", closeBox);
    CloseFileLbl = Label("File Name:", CloseFileName, closeBox);
    CloseFileLbl->setObjectName("CloseFileLbl");
    CloseBrowse = Button("B&rowse...", "CloseBrowse", 311, closeBox);
    ORLabel = new QLabel("OR", closeBox);
    ORLabel->setObjectName("ORLabel");
    WinTitle = Edit("WinTitle", closeBox);
    CloseTitleLbl = Label("Window title:", WinTitle, closeBox);
    CloseTitleLbl->setObjectName("CloseTitleLbl");
    WinTitleBrowse = Button("B&rowse...", "WinTitleBrowse", 315, closeBox);
    CloseTest = Button("T&est", "CloseTest", 309, closeBox);

    OkBtn = Button("&Ok", "OkBtn", 119, this);
    CancelBtn = Button("&Cancel", "CancelBtn", 117, this);
    BtnHelp = Button("&Help", "BtnHelp", 120, this);
    for (QPushButton* test : {PlayTest, RunTest, CloseTest}) test->setEnabled(false);
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);

    // ---- layout ----
    auto* top = new QGridLayout;
    top->addWidget(PerfOnceBtn, 0, 0, 1, 4);
    top->addWidget(ResetCounter, 1, 0, 1, 4);
    top->addWidget(Label("Timeout:", PerfTimeBtn, this), 2, 0);
    top->addWidget(PerfTimeBtn, 2, 1);
    top->addWidget(new QLabel("sec.", this), 2, 2);
    top->setColumnStretch(3, 1);

    auto* play = new QGridLayout(playBox);
    play->addWidget(PlaySoundBtn, 0, 0, 1, 3);
    play->addWidget(Label("File Name:", PlayFileName, playBox), 1, 0);
    play->addWidget(PlayFileName, 1, 1);
    play->addWidget(PlayBrowse, 1, 2);
    play->addWidget(PlayTest, 1, 3);

    auto* run = new QGridLayout(runBox);
    run->addWidget(RunPrgBtn, 0, 0, 1, 3);
    run->addWidget(Label("File Name:", RunFileName, runBox), 1, 0);
    run->addWidget(RunFileName, 1, 1);
    run->addWidget(RunBrowse, 1, 2);
    run->addWidget(RunTest, 1, 3, 2, 1);
    run->addWidget(Label("Directory:", RunDirectory, runBox), 2, 0);
    run->addWidget(RunDirectory, 2, 1);

    auto* close = new QGridLayout(closeBox);
    close->addWidget(ClosePrgBtn, 0, 0, 1, 3);
    close->addWidget(CloseFileLbl, 1, 0);
    close->addWidget(CloseFileName, 1, 1);
    close->addWidget(CloseBrowse, 1, 2);
    close->addWidget(CloseTest, 1, 3, 3, 1);
    close->addWidget(ORLabel, 2, 1, Qt::AlignHCenter);
    close->addWidget(CloseTitleLbl, 3, 0);
    close->addWidget(WinTitle, 3, 1);
    close->addWidget(WinTitleBrowse, 3, 2);

    // The edits of the three groups line up.
    for (QGridLayout* g : {play, run, close})
        g->setColumnMinimumWidth(0, CloseTitleLbl->sizeHint().width());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(BtnHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(playBox);
    layout->addWidget(runBox);
    layout->addWidget(closeBox);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // ---- behaviour ----
    connect(PlayFileName, &QLineEdit::textChanged, this,
            [this](const QString& t) { TextChanged(t, PlayTest, PlaySoundBtn); });
    connect(RunFileName, &QLineEdit::textChanged, this,
            [this](const QString& t) { TextChanged(t, RunTest, RunPrgBtn); });
    connect(CloseFileName, &QLineEdit::textChanged, this,
            [this](const QString& t) { TextChanged(t, CloseTest, ClosePrgBtn); });
    connect(WinTitle, &QLineEdit::textChanged, this,
            [this](const QString& t) { TextChanged(t, CloseTest, ClosePrgBtn); });
    connect(PlayBrowse, &QPushButton::clicked, this, [this] {
        BrowseFile(PlayFileName, "Sound files",
                   "Sound files (*.wav *.oga *.ogg *.mp3 *.flac);;All files (*)");
    });
    connect(RunBrowse, &QPushButton::clicked, this,
            [this] { BrowseFile(RunFileName, "Program files", {}); });
    connect(CloseBrowse, &QPushButton::clicked, this,
            [this] { BrowseFile(CloseFileName, "Program files", {}); });
    connect(WinTitleBrowse, &QPushButton::clicked, this, &TSetEvent::WinTitleBrowseClick);
    connect(PlayTest, &QPushButton::clicked, this, &TSetEvent::PlayTestClick);
    connect(RunTest, &QPushButton::clicked, this, &TSetEvent::RunTestClick);
    connect(CloseTest, &QPushButton::clicked, this, &TSetEvent::CloseTestClick);
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(BtnHelp, &QPushButton::clicked, this, [] { OpenHelpTopic("PerfActDialog"); });
    auto* keys = new TDialogKeys(
        this, [this] { done(mrOk); }, [this] { done(mrCancel); },
        [] { OpenHelpTopic("PerfActDialog"); });
    keys->WatchChildren();
}

void TSetEvent::LoadEvent(const TSpeedEvent& e, int which) {
    PerfOnceBtn->setChecked(ParseConfigInt(e.PerformOnce).value_or(0) != 0);
    PerfTimeBtn->SetText(QString::fromStdString(e.EventTimeout));
    if (!e.ActionKind.empty()) {
        if (e.ActionKind[0] == '0') PlaySoundBtn->setChecked(true);
        if (e.ActionKind[0] == '1') RunPrgBtn->setChecked(true);
        if (e.ActionKind[0] == '2') ClosePrgBtn->setChecked(true);
    }
    PlayFileName->setText(QString::fromStdString(e.PlayFileName));
    RunFileName->setText(QString::fromStdString(e.RunFileName));
    RunDirectory->setText(QString::fromStdString(e.RunDirectory));
    CloseFileName->setText(QString::fromStdString(e.CloseFileName));
    WinTitle->setText(QString::fromStdString(e.WinTitle));
    ResetCounter->setChecked(e.EnableOther == "1");
    const bool min = which != kMaxEvent;
    ResetCounter->setText(min ? "Enable to perform max speed event after that."
                              : "Enable to perform min speed event after that.");
    setWindowTitle(min ? "Min speed action setup" : "Max speed action setup");
}

void TSetEvent::StoreEvent(TSpeedEvent& e) const {
    e.PerformOnce = PerfOnceBtn->isChecked() ? "1" : "0";
    e.EventTimeout = PerfTimeBtn->Text().toStdString();
    e.ActionKind = RunPrgBtn->isChecked() ? "1" : ClosePrgBtn->isChecked() ? "2" : "0";
    e.PlayFileName = PlayFileName->text().toStdString();
    e.RunFileName = RunFileName->text().toStdString();
    e.RunDirectory = RunDirectory->text().toStdString();
    e.CloseFileName = CloseFileName->text().toStdString();
    e.WinTitle = WinTitle->text().toStdString();
    e.EnableOther = ResetCounter->isChecked() ? "1" : "0";
}

void TSetEvent::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) ApplyDialogFont(this, owner->window()->font());
    if (EditLineFont != QFont()) {
        PerfTimeBtn->setFont(EditLineFont);
        for (QLineEdit* e : {PlayFileName, RunFileName, RunDirectory, CloseFileName, WinTitle})
            e->setFont(EditLineFont);
    }
    if (!ProcessListAvailable)
        for (QWidget* w :
             std::initializer_list<QWidget*>{CloseFileLbl, CloseFileName, CloseBrowse, ORLabel})
            w->hide();
    QDialog::showEvent(event);
}

void TSetEvent::paintEvent(QPaintEvent* event) {
    Painted_ = true;
    QDialog::paintEvent(event);
}

void TSetEvent::TextChanged(const QString& text, QPushButton* test, QRadioButton* choice) {
    if (!Painted_) return;
    if (text.isEmpty()) {
        test->setEnabled(false);
    } else {
        test->setEnabled(true);
        choice->setChecked(true);
    }
}

void TSetEvent::BrowseFile(QLineEdit* edit, const QString& caption, const QString& filter) {
    QFileDialog dialog(this, caption);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (filter.isEmpty()) {
        // "Program files": executables only; "All files" is the dialog's own.
        dialog.setNameFilters({"Program files (*)", "All files (*)"});
        dialog.setProxyModel(new TExecutableFilter(&dialog));
    } else {
        dialog.setNameFilter(filter);
    }
    const QFileInfo current(edit->text());
    if (current.exists()) dialog.selectFile(current.absoluteFilePath());
    if (Exec(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edit->setText(dialog.selectedFiles().first());
}

void TSetEvent::WinTitleBrowseClick() {
    TSetURL list(this);
    std::vector<std::string> titles;
    for (const TTopWindow& w : ListWindows ? ListWindows() : std::vector<TTopWindow>{})
        if (!w.Title.empty()) titles.push_back(w.Title.substr(0, 255));
    list.SetWindowTitles(titles);
    if (Exec(list) == mrOk) {
        // With no window listed there is no row to take.
        const QString title = list.SelectedText();
        if (!title.isEmpty()) WinTitle->setText(title);
    }
}

void TSetEvent::PlayTestClick() {
    QTimer::singleShot(0, PlaySoundBtn, &QRadioButton::click);
    RunTestAction([&](ISpeedEventActions& a) { a.PlaySound(PlayFileName->text().toStdString()); });
}

void TSetEvent::RunTestClick() {
    QTimer::singleShot(0, RunPrgBtn, &QRadioButton::click);
    RunTestAction([&](ISpeedEventActions& a) {
        a.RunProgram(RunFileName->text().toStdString(), RunDirectory->text().toStdString());
    });
}

void TSetEvent::CloseTestClick() {
    QTimer::singleShot(0, ClosePrgBtn, &QRadioButton::click);
    RunTestAction([&](ISpeedEventActions& a) {
        if (!CloseFileName->text().isEmpty() && ProcessListAvailable)
            a.CloseProgramByFile(CloseFileName->text().toStdString());
        else if (!WinTitle->text().isEmpty())
            a.CloseWindowsByTitle(WinTitle->text().toStdString());
    });
}

void TSetEvent::RunTestAction(const std::function<void(ISpeedEventActions&)>& action) {
    if (!TestActions) return;
    // A test reports nothing; a failure of the system (a process list that
    // changes while it is read) must not end the program.
    try {
        action(*TestActions);
    } catch (const std::exception&) {
    }
}

}  // namespace tarvik
