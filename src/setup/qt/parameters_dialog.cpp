#include "setup/qt/parameters_dialog.h"

#include <QCheckBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/colors_qt.h"
#include "ui/help.h"

namespace tarvik {

QFont QFontOf(const TFontSetting& f) {
    QFont font(QString::fromStdString(f.Name), f.Size > 0 ? f.Size : 8);
    font.setBold(f.Bold);
    font.setItalic(f.Italic);
    return font;
}

TFontSetting FontSettingOf(const QFont& font, TFontSetting base) {
    base.Name = font.family().toStdString();
    if (font.pointSize() > 0) base.Size = font.pointSize();
    base.Bold = font.bold();
    base.Italic = font.italic();
    return base;
}

namespace {

// Context numbers of the dialog's controls (their texts are the controls'
// "What's This" help).
constexpr int CtxKeepDialUp = 250;
constexpr int CtxChangeFont = 251;
constexpr int CtxOk = 252;
constexpr int CtxHelp = 253;
constexpr int CtxCancel = 254;

const char* const HelpTopics[] = {"Setup1", "Setup2", "Setup3"};

QString Cell(const QTableWidget* t, int row, int col) {
    const QTableWidgetItem* item = t->item(row, col);
    return item ? item->text() : QString();
}

}  // namespace

TParameters::TParameters(QWidget* parent) : QDialog(parent) {
    setObjectName("TParameters");
    setWindowTitle("Global Preferences");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint);
    setModal(true);

    TabbedNotebook1 = new QTabWidget(this);
    TabbedNotebook1->setObjectName("TabbedNotebook1");

    // ---- tab 0: the dial-up keeper ----
    auto* keeperPage = new QWidget;
    auto* kl = new QVBoxLayout(keeperPage);
    KeppDialUp = new QCheckBox("Keep Dial-Up connection", keeperPage);
    KeppDialUp->setObjectName("KeppDialUp");
    KeppDialUp->setWhatsThis(
        "When ticked, Tarvik presses the button of every dialog box in the "
        "table below, so that a broken dial-up connection is made again "
        "without you.");
    KeppDialUp->setProperty("helpContext", CtxKeepDialUp);
    kl->addWidget(KeppDialUp);
    KeepDialPanel = new QWidget(keeperPage);
    KeepDialPanel->setObjectName("KeepDialPanel");
    auto* pl = new QVBoxLayout(KeepDialPanel);
    pl->setContentsMargins(0, 0, 0, 0);
    auto* period = new QHBoxLayout;
    period->addWidget(new QLabel("The program will search following dialog boxes every:"));
    DialUpTimeout = new QSpinBox(KeepDialPanel);
    DialUpTimeout->setObjectName("DialUpTimeout");
    DialUpTimeout->setRange(0, 100000);
    period->addWidget(DialUpTimeout);
    period->addWidget(new QLabel("sec."));
    period->addStretch();
    pl->addLayout(period);
    ConnectWindowsTable = new QTableWidget(1, 2, KeepDialPanel);
    ConnectWindowsTable->setObjectName("ConnectWindowsTable");
    ConnectWindowsTable->setHorizontalHeaderLabels({"Dialog Box Title", "Button To Push"});
    ConnectWindowsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    ConnectWindowsTable->verticalHeader()->setVisible(false);
    ConnectWindowsTable->setSelectionMode(QAbstractItemView::SingleSelection);
    ConnectWindowsTable->setEditTriggers(QAbstractItemView::AllEditTriggers);
    pl->addWidget(ConnectWindowsTable, 1);
    auto* note = new QLabel(
        "If you have dialog boxes with another titles you should put it in the "
        "table. Also you can add dialog box titles from another program.");
    note->setWordWrap(true);
    pl->addWidget(note);
    KeeperProblemText = new QLabel(KeepDialPanel);
    KeeperProblemText->setObjectName("KeeperProblemText");
    KeeperProblemText->setWordWrap(true);
    KeeperProblemText->setStyleSheet("color: #a00000;");
    KeeperProblemText->hide();
    pl->addWidget(KeeperProblemText);
    kl->addWidget(KeepDialPanel, 1);
    TabbedNotebook1->addTab(keeperPage, "Keep &Dial-Up connection");

    // ---- tab 1: fonts ----
    auto* fontPage = new QWidget;
    auto* fl = new QGridLayout(fontPage);
    auto addFontRow = [&](int row, const char* label, const char* sampleName,
                          const char* buttonName, QLabel*& sample, QPushButton*& button) {
        fl->addWidget(new QLabel(label), row, 0);
        sample = new QLabel(fontPage);
        sample->setObjectName(sampleName);
        sample->setFrameShape(QFrame::StyledPanel);
        sample->setFrameShadow(QFrame::Sunken);
        sample->setMinimumSize(200, 34);
        sample->setAlignment(Qt::AlignCenter);
        sample->setAutoFillBackground(true);
        fl->addWidget(sample, row, 1);
        button = new QPushButton("Change ...", fontPage);
        button->setObjectName(buttonName);
        button->setWhatsThis(
            "Opens the font dialog; the sample shows the chosen font. Nothing "
            "changes in the program before OK.");
        button->setProperty("helpContext", CtxChangeFont);
        fl->addWidget(button, row, 2);
        connect(button, &QPushButton::clicked, this, [this, &sample] { ChangeFont(sample); });
    };
    addFontRow(0, "Dialogs text:", "DialogsText", "ChoiseDlgFnt", DialogsText, ChoiseDlgFnt);
    addFontRow(1, "String grid:", "TableFont", "ChoiseTblFnt", TableFont, ChoiseTblFnt);
    addFontRow(2, "Edit Line:", "EditLine", "ChoiseEdLnFnt", EditLine, ChoiseEdLnFnt);
    fl->setRowStretch(3, 1);
    fl->setColumnStretch(1, 1);
    TabbedNotebook1->addTab(fontPage, "&Fonts");

    // ---- tab 2: miscellaneous ----
    auto* miscPage = new QWidget;
    auto* ml = new QVBoxLayout(miscPage);
    TrendEnabledBtn = new QCheckBox("Enable writing results to the trend file.", miscPage);
    TrendEnabledBtn->setObjectName("TrendEnabledBtn");
    ml->addWidget(TrendEnabledBtn);
    auto* trendNote = new QLabel(
        "Trend file keeps results which were done in another time and "
        "another days. It can take a lot of disk space.");
    trendNote->setWordWrap(true);
    ml->addWidget(trendNote);
    ml->addStretch();
    TabbedNotebook1->addTab(miscPage, "&Miscellaneous");

    // ---- buttons ----
    BtnOk = new QPushButton("&Ok", this);
    BtnOk->setObjectName("BtnOk");
    BtnOk->setDefault(true);
    BtnOk->setWhatsThis("Takes the settings of every page and closes the dialog.");
    BtnOk->setProperty("helpContext", CtxOk);
    BtnHelp = new QPushButton("&Help", this);
    BtnHelp->setObjectName("BtnHelp");
    BtnHelp->setAutoDefault(false);
    BtnHelp->setWhatsThis("Opens the help page of the page in view (also F1).");
    BtnHelp->setProperty("helpContext", CtxHelp);
    CancelBtn = new QPushButton("&Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setAutoDefault(false);
    CancelBtn->setWhatsThis(
        "Closes the dialog and drops the changes; the dial-up keeper is as "
        "it was before.");
    CancelBtn->setProperty("helpContext", CtxCancel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BtnOk);
    buttons->addWidget(BtnHelp);
    buttons->addWidget(CancelBtn);

    auto* root = new QVBoxLayout(this);
    root->addWidget(TabbedNotebook1, 1);
    root->addLayout(buttons);
    resize(490, 380);

    for (QWidget* w : {static_cast<QWidget*>(KeppDialUp), static_cast<QWidget*>(ChoiseDlgFnt),
                       static_cast<QWidget*>(ChoiseTblFnt), static_cast<QWidget*>(ChoiseEdLnFnt),
                       static_cast<QWidget*>(BtnOk), static_cast<QWidget*>(BtnHelp),
                       static_cast<QWidget*>(CancelBtn)})
        w->installEventFilter(this);

    connect(KeppDialUp, &QCheckBox::toggled, KeepDialPanel, &QWidget::setVisible);
    connect(BtnOk, &QPushButton::clicked, this, &TParameters::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &TParameters::reject);
    connect(BtnHelp, &QPushButton::clicked, this, &TParameters::HelpClick);
    connect(ConnectWindowsTable, &QTableWidget::cellChanged, this,
            [this](int row, int) { OnCellChanged(row); });
    connect(ConnectWindowsTable, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int, int) { OnCellSelected(row); });
    ProblemPoll_ = new QTimer(this);
    ProblemPoll_->setInterval(300);
    connect(ProblemPoll_, &QTimer::timeout, this, &TParameters::ShowProblem);
    connect(this, &QDialog::finished, ProblemPoll_, &QTimer::stop);
}

void TParameters::SetSample(QLabel* sample, const TFontSetting& f) {
    sample->setFont(QFontOf(f));
    sample->setText(QString::fromStdString(FontSampleText(f.Charset)));
    QPalette pal = sample->palette();
    pal.setColor(QPalette::WindowText, ToQColor(f.Color));
    pal.setColor(QPalette::Window,
                 sample == EditLine ? QColor(Qt::black) : palette().color(QPalette::Base));
    sample->setPalette(pal);
    if (sample == DialogsText) Dialogs_ = f;
    if (sample == TableFont) Table_ = f;
    if (sample == EditLine) Edit_ = f;
}

void TParameters::Load(const TPreferences& p) {
    Loading_ = true;
    Loaded_ = p;
    setFont(QFontOf(p.MainFont));
    ConnectWindowsTable->setFont(QFontOf(p.GridFont));
    // Grid-like rows: the text height and a little room, not the style's tall rows.
    ConnectWindowsTable->verticalHeader()->setDefaultSectionSize(
        QFontMetrics(ConnectWindowsTable->font()).height() + 6);
    DialUpTimeout->setFont(QFontOf(p.EditLineFont));
    // Rows 1 on of the window's table; the grid's own header is row 0.
    const int rows = std::max<int>(1, static_cast<int>(p.ConnectWindowsTable.size()) - 1);
    ConnectWindowsTable->clearContents();
    ConnectWindowsTable->setRowCount(rows);
    for (int r = 1; r < static_cast<int>(p.ConnectWindowsTable.size()); ++r)
        for (int c = 0; c < 2; ++c)
            ConnectWindowsTable->setItem(
                r - 1, c,
                new QTableWidgetItem(QString::fromStdString(p.ConnectWindowsTable[r][c])));
    KeppDialUp->setChecked(p.KeeperEnabled);
    KeepDialPanel->setVisible(p.KeeperEnabled);
    SavedKeeperEnabled = p.KeeperEnabled;
    DialUpTimeout->setValue(std::clamp(p.KeeperIntervalMs / 1000, 0, 100000));
    Shown = true;
    if (SwitchKeeper) SwitchKeeper(false);
    SetSample(TableFont, p.GridFont);
    SetSample(EditLine, p.EditLineFont);
    SetSample(DialogsText, p.MainFont);
    TrendEnabledBtn->setChecked(p.TrendEnabled);
    TabbedNotebook1->setCurrentIndex(0);
    ShowProblem();
    Loading_ = false;
}

int TParameters::Execute(const TPreferences& p) {
    Load(p);
    ProblemPoll_->start();
    return exec();
}

TPreferences TParameters::Edited() const {
    TPreferences p = Loaded_;
    p.GridFont = Table_;
    p.EditLineFont = Edit_;
    p.MainFont = Dialogs_;
    TConnectWindowsRow header = Loaded_.ConnectWindowsTable.empty()
                                    ? TConnectWindowsRow{}
                                    : Loaded_.ConnectWindowsTable.front();
    p.ConnectWindowsTable.assign(1, header);
    for (int r = 0; r < ConnectWindowsTable->rowCount(); ++r)
        p.ConnectWindowsTable.push_back({Cell(ConnectWindowsTable, r, 0).toStdString(),
                                         Cell(ConnectWindowsTable, r, 1).toStdString()});
    p.KeeperEnabled = KeppDialUp->isChecked();
    p.KeeperIntervalMs = DialUpTimeout->value() * 1000;
    p.TrendEnabled = TrendEnabledBtn->isChecked();
    return p;
}

void TParameters::ApplyPreferences() {
    if (Apply) Apply(Edited());
}

void TParameters::accept() {
    // An open cell editor commits first, so that the typed text counts.
    if (QWidget* editor = ConnectWindowsTable->focusWidget();
        editor && ConnectWindowsTable->isAncestorOf(editor))
        ConnectWindowsTable->setCurrentCell(-1, -1);
    ApplyPreferences();
    QDialog::accept();
}

void TParameters::reject() {
    // Cancel, Escape and the close box: the keeper as it was, nothing else.
    if (SwitchKeeper) SwitchKeeper(SavedKeeperEnabled);
    QDialog::reject();
}

void TParameters::ChangeFont(QLabel* sample) {
    TFontSetting current = sample == DialogsText ? Dialogs_ : sample == TableFont ? Table_ : Edit_;
    // The dialog starts on the face the name resolves to: an alias such as
    // "Sans Serif" lists no bold style, and the dialog would drop the bold.
    QFont start = sample->font();
    start.setFamily(QFontInfo(start).family());
    QFont font = start;
    bool ok = false;
    if (ChooseFont) {
        ok = ChooseFont(font, this);
    } else {
        font = QFontDialog::getFont(&ok, start, this, "Font");
    }
    if (!ok) return;
    // OK on the unchanged font keeps the stored face name.
    const bool same = font.family() == start.family() && font.pointSize() == start.pointSize() &&
                      font.bold() == start.bold() && font.italic() == start.italic();
    if (!same) SetSample(sample, FontSettingOf(font, current));
}

void TParameters::OnCellChanged(int row) {
    if (!Shown || Loading_) return;
    // Typing into the last row opens a new empty one below it.
    if (row == ConnectWindowsTable->rowCount() - 1)
        ConnectWindowsTable->setRowCount(ConnectWindowsTable->rowCount() + 1);
}

void TParameters::OnCellSelected(int row) {
    if (!Shown || Loading_ || row < 0) return;
    // Grid rows count the header: more than three, and an empty title in the
    // second-to-last one, drop the last row.
    const int gridRows = ConnectWindowsTable->rowCount() + 1;
    const int secondToLast = ConnectWindowsTable->rowCount() - 2;
    if (gridRows > 3 && Cell(ConnectWindowsTable, secondToLast, 0).isEmpty() &&
        row != ConnectWindowsTable->rowCount() - 1) {
        QSignalBlocker block(ConnectWindowsTable);
        ConnectWindowsTable->setRowCount(ConnectWindowsTable->rowCount() - 1);
    }
}

void TParameters::ShowProblem() {
    const QString text = KeeperProblem ? QString::fromStdString(KeeperProblem())
                                       : QString::fromStdString(Loaded_.KeeperProblem);
    KeeperProblemText->setText(text);
    KeeperProblemText->setVisible(!text.isEmpty());
}

QString TParameters::CurrentHelpTopic() const {
    return QString::fromLatin1(HelpTopics[std::clamp(TabbedNotebook1->currentIndex(), 0, 2)]);
}

void TParameters::HelpClick() { OpenHelpTopic(CurrentHelpTopic()); }

void TParameters::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        HelpClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TParameters::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && mouse->button() == Qt::RightButton) {
            ShowContextHelp(widget, widget->property("helpContext").toInt(),
                            mouse->globalPosition().toPoint());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace tarvik
