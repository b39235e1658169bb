#include "setup/qt/edit_resource.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "setup/bookmarks.h"
#include "setup/qt/set_drive.h"
#include "setup/qt/set_event.h"
#include "setup/qt/set_url.h"
#include "ui/colors_qt.h"
#include "ui/help.h"
#include "ui/msg_dialog.h"

namespace tarvik {
namespace {

const char* const DriveTopic = "Select a file server directory for speed measurement.";
const char* const FileTopic =
    "If you have read only network permission you can determine read speed on a file server by "
    "this function.";
const char* const HostTopic =
    "Type address of an Internet host. It can be or IP address: 10.1.1.113 or an URL like: "
    "http://www.example.com/index.html";

QLabel* Text(const QString& text, QWidget* parent, bool bold = false) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        f.setPointSize(f.pointSize() + 2);
        l->setFont(f);
    }
    return l;
}

QSpinBox* Spin(const char* name, int min, int max, int step, int value, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(min, max);
    s->setSingleStep(step);
    s->setValue(value);
    s->setMinimumWidth(110);
    return s;
}

QPushButton* Button(const QString& caption, const char* name, const QString& hint, int context,
                    QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    if (!hint.isEmpty()) {
        b->setToolTip(hint);
        b->setWhatsThis(hint);
    }
    if (context > 0) b->setProperty("helpContext", context);
    return b;
}

TColor FromQColor(const QColor& c) {
    return static_cast<TColor>(c.red()) | (static_cast<TColor>(c.green()) << 8) |
           (static_cast<TColor>(c.blue()) << 16);
}

void SetSpinText(QSpinBox* spin, const std::string& text) {
    if (const auto v = ParseConfigInt(text)) spin->setValue(*v);
}

}  // namespace

TEditResource::TEditResource(QWidget* parent, TWizardEnvironment env)
    : QDialog(parent), Env_(std::move(env)) {
    setObjectName("EditResource");
    setWindowTitle("Resource");
    if (!Env_.Random) Env_.Random = SystemChannelRandom();
    if (!Env_.Exec) Env_.Exec = ExecModal;
    FirstStartMode = Env_.FirstStart;

    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName("Notebook1");
    Notebook1->addWidget(MakeWelcomePage());
    Notebook1->addWidget(MakeResourcePage());
    Notebook1->addWidget(MakeColorPage());
    Notebook1->addWidget(MakeFrequencePage());
    Notebook1->addWidget(MakeEventsPage());
    Notebook1->addWidget(MakeDialUpPage());
    Notebook1->addWidget(MakeFinishPage());
    Notebook1->setCurrentIndex(1);

    Previos = Button("&Previous", "Previos", {}, 401, this);
    Next = Button("&Next", "Next", {}, 402, this);
    CloseBtn = Button("&Cancel", "CloseBtn", {}, 403, this);
    HelpBtn = Button("&Help", "HelpBtn", {}, 404, this);
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Previos);
    buttons->addWidget(Next);
    buttons->addSpacing(12);
    buttons->addWidget(CloseBtn);
    buttons->addWidget(HelpBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Notebook1, 1);
    layout->addWidget(line);
    layout->addLayout(buttons);
    setMinimumSize(540, 400);

    connect(Notebook1, &QStackedWidget::currentChanged, this, [this] { Notebook1PageChanged(); });
    connect(Next, &QPushButton::clicked, this, &TEditResource::NextClick);
    connect(Previos, &QPushButton::clicked, this, &TEditResource::PrevClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TEditResource::CloseBtnClick);
    connect(HelpBtn, &QPushButton::clicked, this, &TEditResource::HelpBtnClick);
    auto* keys = new TDialogKeys(
        this,
        [this] {
            ApplyDialUpPage();
            done(mrOk);
        },
        [this] { done(mrCancel); }, [this] { HelpBtnClick(); });
    keys->WatchChildren();
}

TEditResource::~TEditResource() = default;

// ---- pages ------------------------------------------------------------------------

QWidget* TEditResource::MakeWelcomePage() {
    auto* page = new QWidget;
    page->setObjectName("Welcome");
    auto* l = new QVBoxLayout(page);
    l->addWidget(Text("Welcome to Tarvik.", page, true));
    l->addWidget(
        Text("The program helps you to define the data transfer speed in a network.", page));
    l->addWidget(
        Text("With this program you can measure the real transfer speed between internet "
             "provider and your computer and define day or night time when internet "
             "speed is highest.",
             page));
    l->addWidget(
        Text("If your Dial-Up network is broken-down frequently, Tarvik can help you to "
             "redial a connection.",
             page));
    l->addWidget(
        Text("With Tarvik you can run a programs when network speed has some value.  For "
             "instance it allows you to run Microsoft Exchange when network connection "
             "is established.",
             page));
    WWWAddress = new QLabel(page);
    WWWAddress->setObjectName("WWWAddress");
    WWWAddress->setTextInteractionFlags(Qt::TextBrowserInteraction);
    // The link leads to the help pages installed with the program.
    connect(WWWAddress, &QLabel::linkActivated, this, [] { OpenHelpContents(); });
    l->addWidget(WWWAddress);
    l->addStretch();
    return page;
}

QWidget* TEditResource::MakeResourcePage() {
    auto* page = new QWidget;
    page->setObjectName("Resource");
    NetwDrive = new QRadioButton("Network drive", page);
    NetwDrive->setObjectName("NetwDrive");
    CDROM = new QRadioButton("Read only file (e.g. a CD ROM file)", page);
    CDROM->setObjectName("CDROM");
    IP = new QRadioButton("IP address (Web or FTP server)", page);
    IP->setObjectName("IP");
    IP->setChecked(true);
    NetwDrive->setWhatsThis("A directory on a network drive: write and read speed of a test file.");
    CDROM->setWhatsThis("A file that can only be read: its read speed.");
    IP->setWhatsThis("An Internet host: the ping speed of one echo request per cycle.");
    NetwDrive->setProperty("helpContext", 410);
    CDROM->setProperty("helpContext", 411);
    IP->setProperty("helpContext", 412);
    Path = new QLineEdit("localhost", page);
    Path->setObjectName("Path");
    Path->setMaxLength(255);
    Browse = Button("&Browse...", "Browse", "List of available resources", 413, page);
    Page2_Topic = Text({}, page);
    Page2_Topic->setObjectName("Page2_Topic");
    Page2_Topic->setMinimumHeight(Page2_Topic->fontMetrics().height() * 3);
    auto* pathLabel = new QLabel("&Address:", page);
    pathLabel->setBuddy(Path);
    auto* row = new QHBoxLayout;
    row->addWidget(Path, 1);
    row->addWidget(Browse);
    auto* l = new QVBoxLayout(page);
    l->addWidget(Text("Select the kind of the test resource:", page));
    l->addWidget(NetwDrive);
    l->addWidget(CDROM);
    l->addWidget(IP);
    l->addSpacing(8);
    l->addWidget(pathLabel);
    l->addLayout(row);
    l->addWidget(Page2_Topic);
    l->addStretch();
    for (QRadioButton* r : {NetwDrive, CDROM, IP})
        connect(r, &QRadioButton::clicked, this, &TEditResource::KindClick);
    connect(Browse, &QPushButton::clicked, this, &TEditResource::BrowseClick);
    return page;
}

QWidget* TEditResource::MakeColorPage() {
    auto* page = new QWidget;
    page->setObjectName("Color");
    const auto panel = [page](const char* name) {
        auto* f = new QFrame(page);
        f->setObjectName(name);
        f->setFrameShape(QFrame::Panel);
        f->setFrameShadow(QFrame::Sunken);
        f->setAutoFillBackground(true);
        f->setFixedSize(64, 28);
        return f;
    };
    ReadColor = panel("ReadColor");
    WriteColor = panel("WriteColor");
    ReadColorBtn = Button("&Set Color ...", "ReadColorBtn", {}, 0, page);
    WriteColorBtn = Button("&Set Color ...", "WriteColorBtn", {}, 0, page);
    LabelReadColor = new QLabel("Read Color :", page);
    LabelReadColor->setObjectName("LabelReadColor");
    LabelReadColor->setBuddy(ReadColorBtn);
    LabelWriteColor = new QLabel("Write Color :", page);
    LabelWriteColor->setObjectName("LabelWriteColor");
    LabelWriteColor->setBuddy(WriteColorBtn);
    auto* g = new QGridLayout;
    g->addWidget(LabelReadColor, 0, 0);
    g->addWidget(ReadColor, 0, 1);
    g->addWidget(ReadColorBtn, 0, 2);
    g->addWidget(LabelWriteColor, 1, 0);
    g->addWidget(WriteColor, 1, 1);
    g->addWidget(WriteColorBtn, 1, 2);
    g->setColumnStretch(3, 1);
    auto* l = new QVBoxLayout(page);
    l->addWidget(Text("The colours of the resource's curves in the charts:", page));
    l->addLayout(g);
    l->addStretch();
    connect(ReadColorBtn, &QPushButton::clicked, this, [this] { ChooseColour(ReadColour); });
    connect(WriteColorBtn, &QPushButton::clicked, this, [this] { ChooseColour(WriteColour); });
    return page;
}

QWidget* TEditResource::MakeFrequencePage() {
    auto* page = new QWidget;
    page->setObjectName("Frequence");
    PingDelay = Spin("PingDelay", 10, 6000000, 100, 1000, page);
    TimeoutPanel = new QWidget(page);
    TimeoutPanel->setObjectName("TimeoutPanel");
    TimeOut = Spin("TimeOut", 100, 240000, 100, 30000, TimeoutPanel);
    SizeofPacketPanel = new QWidget(page);
    SizeofPacketPanel->setObjectName("SizeofPacketPanel");
    SizeOfPacket = Spin("SizeOfPacket", 1024, 64512, 1024, 1024, SizeofPacketPanel);
    DefAuto = new QCheckBox("Defines automatically", SizeofPacketPanel);
    DefAuto->setObjectName("DefAuto");
    DefAuto->setChecked(true);
    DefAuto->setProperty("helpContext", 420);
    DefAuto->setWhatsThis("Tarvik chooses the size so that one measurement takes 10 to 40 ms.");
    SizeOfPacket->setEnabled(false);

    const auto row = [](QWidget* parent, const QString& caption, QWidget* field,
                        const QString& unit) {
        auto* h = new QHBoxLayout;
        auto* label = new QLabel(caption, parent);
        label->setBuddy(field);
        label->setMinimumWidth(200);
        h->addWidget(label);
        h->addWidget(field);
        h->addWidget(new QLabel(unit, parent));
        h->addStretch();
        return h;
    };
    auto* t = new QVBoxLayout(TimeoutPanel);
    t->setContentsMargins(0, 0, 0, 0);
    t->addLayout(row(TimeoutPanel, "&Timeout:", TimeOut, "ms"));
    auto* s = new QVBoxLayout(SizeofPacketPanel);
    s->setContentsMargins(0, 0, 0, 0);
    s->addLayout(row(SizeofPacketPanel, "&Size of packet (test file):", SizeOfPacket, "bytes"));
    s->addWidget(DefAuto);
    auto* l = new QVBoxLayout(page);
    l->addLayout(row(page, "Process &delay:", PingDelay, "ms"));
    l->addWidget(TimeoutPanel);
    l->addWidget(SizeofPacketPanel);
    l->addStretch();
    connect(DefAuto, &QCheckBox::toggled, this, [this](bool on) { SizeOfPacket->setEnabled(!on); });
    return page;
}

QWidget* TEditResource::MakeEventsPage() {
    auto* page = new QWidget;
    page->setObjectName("MinMaxEvents");
    PerformMinSpeed = new QCheckBox("Perform action if speed value", page);
    PerformMinSpeed->setObjectName("PerformMinSpeed");
    PerformMinSpeed->setProperty("helpContext", 430);
    PerformMinSpeed->setWhatsThis("Switches the minimum speed event on.");
    MinSpeed = new TTextSpinBox(0, 10000, page);
    MinSpeed->setObjectName("MinSpeed");
    MinSpeed->SetText("0");
    MinSpeedEvent =
        Button("M&in speed action...", "MinSpeedEvent", "Setup action on Min speed", 431, page);
    PerformMaxSpeed = new QCheckBox("Perform action if speed value", page);
    PerformMaxSpeed->setObjectName("PerformMaxSpeed");
    PerformMaxSpeed->setProperty("helpContext", 432);
    PerformMaxSpeed->setWhatsThis("Switches the maximum speed event on.");
    MaxSpeed = new TTextSpinBox(0, 10000, page);
    MaxSpeed->setObjectName("MaxSpeed");
    MaxSpeed->SetText("2");
    MaxSpeedEvent =
        Button("M&ax speed action...", "MaxSpeedEvent", "Setup action on Max speed", 433, page);
    for (auto* s : {MinSpeed, MaxSpeed}) s->setMinimumWidth(90);

    const auto group = [page](QCheckBox* box, const QString& relation, TTextSpinBox* spin,
                              QPushButton* action) {
        auto* g = new QGridLayout;
        g->addWidget(box, 0, 0, 1, 4);
        auto* label = new QLabel(relation, page);
        label->setBuddy(spin);
        g->addWidget(label, 1, 0);
        g->addWidget(spin, 1, 1);
        g->addWidget(new QLabel("KBps", page), 1, 2);
        g->addWidget(action, 1, 3);
        g->setColumnStretch(4, 1);
        g->setColumnMinimumWidth(0, 160);
        return g;
    };
    auto* l = new QVBoxLayout(page);
    l->addLayout(group(PerformMinSpeed, "will be less or equal:", MinSpeed, MinSpeedEvent));
    l->addSpacing(16);
    l->addLayout(group(PerformMaxSpeed, "will be more or equal:", MaxSpeed, MaxSpeedEvent));
    l->addStretch();
    connect(MinSpeedEvent, &QPushButton::clicked, this, &TEditResource::MinSpeedEventClick);
    connect(MaxSpeedEvent, &QPushButton::clicked, this, &TEditResource::MaxSpeedEventClick);
    return page;
}

QWidget* TEditResource::MakeDialUpPage() {
    auto* page = new QWidget;
    page->setObjectName("DialUP");
    KeppDialUp = new QCheckBox("Keep Dial-Up connection", page);
    KeppDialUp->setObjectName("KeppDialUp");
    KeppDialUp->setProperty("helpContext", 440);
    KeppDialUp->setWhatsThis(
        "Tarvik presses the button of the listed dialog boxes when they appear.");
    KeepDialPanel = new QWidget(page);
    KeepDialPanel->setObjectName("KeepDialPanel");
    DialUpTimeout = Spin("DialUpTimeout", 0, 100000, 1, 10, KeepDialPanel);
    ConnectWindowsTable = new QTableWidget(1, 2, KeepDialPanel);
    ConnectWindowsTable->setObjectName("ConnectWindowsTable");
    ConnectWindowsTable->setHorizontalHeaderLabels({"Dialog Box Title", "Button To Push"});
    ConnectWindowsTable->horizontalHeader()->setStretchLastSection(true);
    ConnectWindowsTable->horizontalHeader()->resizeSection(0, 260);
    ConnectWindowsTable->verticalHeader()->hide();
    ConnectWindowsTable->setTabKeyNavigation(false);
    auto* period = new QHBoxLayout;
    auto* periodLabel =
        new QLabel("The program will search following dialog boxes every:", KeepDialPanel);
    periodLabel->setBuddy(DialUpTimeout);
    period->addWidget(periodLabel);
    period->addWidget(DialUpTimeout);
    period->addWidget(new QLabel("sec.", KeepDialPanel));
    period->addStretch();
    auto* k = new QVBoxLayout(KeepDialPanel);
    k->setContentsMargins(0, 0, 0, 0);
    k->addLayout(period);
    k->addWidget(ConnectWindowsTable, 1);
    k->addWidget(
        Text("If you have dialog boxes with another titles you should put it in the "
             "table. Also you can add dialog box titles from another program.",
             KeepDialPanel));
    auto* l = new QVBoxLayout(page);
    l->addWidget(
        Text("If you don't like to press button OK when line is busy or connection lost, "
             "Tarvik can do it for you.",
             page));
    l->addWidget(KeppDialUp);
    l->addWidget(KeepDialPanel, 1);
    KeepDialPanel->setVisible(false);
    connect(KeppDialUp, &QCheckBox::toggled, KeepDialPanel, &QWidget::setVisible);
    connect(ConnectWindowsTable, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { DialTableTyped(item->row()); });
    connect(ConnectWindowsTable, &QTableWidget::currentCellChanged, this,
            [this] { DialTableSelected(); });
    return page;
}

QWidget* TEditResource::MakeFinishPage() {
    auto* page = new QWidget;
    page->setObjectName("Finish");
    auto* l = new QVBoxLayout(page);
    l->addWidget(Text("Now Tarvik is ready to work.", page, true));
    l->addWidget(
        Text("You can change the additional parameters by pressing button \"Settings\" in "
             "the main screen.",
             page));
    l->addWidget(
        Text("If you want to know more about Tarvik - please click \"Help\" button.", page));
    l->addWidget(Text("To start work with program - please click \"Finish\" button.", page));
    l->addStretch();
    return page;
}

// ---- showing ------------------------------------------------------------------------

void TEditResource::showEvent(QShowEvent* event) {
    if (!ShowDone_) {
        ShowDone_ = true;
        FormShow();
    }
    QDialog::showEvent(event);
}

void TEditResource::FormShow() {
    ApplyDialogFont(this, FontFromSetting(Env_.MainFont));
    const QFont edit = FontFromSetting(Env_.EditLineFont);
    Path->setFont(edit);
    for (QWidget* w : std::initializer_list<QWidget*>{PingDelay, TimeOut, SizeOfPacket, MinSpeed,
                                                      MaxSpeed, DialUpTimeout})
        w->setFont(edit);
    ConnectWindowsTable->setFont(FontFromSetting(Env_.GridFont));
    URLPicker = new TSetURL(this);

    if (!EditMode) {
        setWindowTitle("Adding new resource");
        static const TResourceTable empty;
        const TCurveColours c = ChooseWizardColours(Env_.Table ? *Env_.Table : empty, Env_.Random);
        ReadColour = c.Read;
        WriteColour = c.Write;
        ShowColours();
    }
    Notebook1PageChanged();
    if (FirstStartMode) {
        PagesHidden = 1;
        Notebook1->setCurrentIndex(0);
        FillDialTable();
        KeppDialUp->setChecked(Env_.KeeperOn);
        DialUpTimeout->setValue(Env_.KeeperIntervalMs / 1000);
    } else {
        PagesHidden = 3;
        Notebook1->setCurrentIndex(1);
    }
    Notebook1PageChanged();
    Shown = true;
}

void TEditResource::paintEvent(QPaintEvent* event) {
    if (EditMode) {
        EditMode = false;
        LoadSelectedRow();
    }
    QDialog::paintEvent(event);
}

void TEditResource::LoadSelectedRow() {
    setWindowTitle("Editing resource");
    if (!Env_.Table) return;
    TWizardValues v = Values();
    LoadResourceRow(*Env_.Table, Env_.CurrentRow, v);
    Path->setText(QString::fromStdString(v.Path));
    (v.Kind == '1' ? NetwDrive : v.Kind == '2' ? CDROM : IP)->setChecked(true);
    WriteColour = v.WriteColor;
    ReadColour = v.ReadColor;
    ShowColours();
    SetSpinText(PingDelay, v.PingDelay);
    SetSpinText(SizeOfPacket, v.SizeOfPacket);
    SetSpinText(TimeOut, v.TimeOut);
    MinSpeed->SetText(QString::fromStdString(v.MinSpeed));
    MaxSpeed->SetText(QString::fromStdString(v.MaxSpeed));
    DefAuto->setChecked(v.DefAuto);
    PerformMinSpeed->setChecked(v.PerformMinSpeed);
    PerformMaxSpeed->setChecked(v.PerformMaxSpeed);
    MinEvent = v.MinEvent;
    MaxEvent = v.MaxEvent;
    KindClick();
}

TWizardValues TEditResource::Values() const {
    TWizardValues v;
    v.Kind = NetwDrive->isChecked() ? '1' : CDROM->isChecked() ? '2' : '3';
    v.Path = Path->text().toStdString();
    v.WriteColor = WriteColour;
    v.ReadColor = ReadColour;
    v.PingDelay = QString::number(PingDelay->value()).toStdString();
    v.SizeOfPacket = QString::number(SizeOfPacket->value()).toStdString();
    v.TimeOut = QString::number(TimeOut->value()).toStdString();
    v.MinSpeed = MinSpeed->Text().toStdString();
    v.MaxSpeed = MaxSpeed->Text().toStdString();
    v.DefAuto = DefAuto->isChecked();
    v.PerformMinSpeed = PerformMinSpeed->isChecked();
    v.PerformMaxSpeed = PerformMaxSpeed->isChecked();
    v.MinEvent = MinEvent;
    v.MaxEvent = MaxEvent;
    return v;
}

// ---- page and kind handlers -----------------------------------------------------------

void TEditResource::Notebook1PageChanged() {
    const int page = Notebook1->currentIndex();
    const bool last = page == LastOfferedPage();
    CloseBtn->setText(last ? "&Finish" : "&Cancel");
    Next->setEnabled(!last);
    Previos->setEnabled(page != 0);
    switch (page) {
        case 0: {
            const QColor link = palette().color(QPalette::Active, QPalette::Highlight);
            WWWAddress->setText(
                QString("<a href=\"%1\" style=\"color:%2; text-decoration:underline\">Tarvik help "
                        "pages</a>")
                    .arg(QUrl::fromLocalFile(HelpPagePath("Main_index")).toString(), link.name()));
            break;
        }
        case 1:
            if (!Env_.IcmpAvailable && IP->isEnabled()) {
                NetwDrive->setChecked(true);
                IP->setEnabled(false);
                Path->setText("/");
            }
            KindClick();
            break;
        case 2:
            for (QWidget* w :
                 std::initializer_list<QWidget*>{LabelWriteColor, WriteColor, WriteColorBtn})
                w->setVisible(NetwDrive->isChecked());
            LabelReadColor->setText(IP->isChecked() ? "Ping Color :" : "Read Color :");
            break;
        case 3:
            SizeofPacketPanel->setVisible(!CDROM->isChecked());
            TimeoutPanel->setVisible(IP->isChecked());
            break;
        default:
            break;
    }
    // The keyboard starts on the page's first field.
    if (isVisible()) {
        if (page == 1)
            Path->setFocus();
        else if (page == 3)
            PingDelay->setFocus();
        else if (page == 4)
            PerformMinSpeed->setFocus();
        else if (page == 5)
            KeppDialUp->setFocus();
        else
            Next->isEnabled() ? Next->setFocus() : CloseBtn->setFocus();
    }
}

void TEditResource::KindClick() {
    if (NetwDrive->isChecked()) {
        Page2_Topic->setText(DriveTopic);
        Browse->setVisible(true);
    } else if (CDROM->isChecked()) {
        Page2_Topic->setText(FileTopic);
        Browse->setVisible(true);
    } else {
        Page2_Topic->setText(HostTopic);
        if (!URLPicker) URLPicker = new TSetURL(this);
        const TWebAddressList list = BuildWebAddressList(Env_.HomeDir);
        URLPicker->SetRows(list.Rows);
        if (!list.Caption.empty()) URLPicker->setWindowTitle(QString::fromStdString(list.Caption));
        Browse->setVisible(URLPicker->EntryCount() > 0);
    }
}

void TEditResource::ShowColours() {
    for (auto [panel, colour] :
         {std::pair{ReadColor, ReadColour}, std::pair{WriteColor, WriteColour}}) {
        QPalette p = panel->palette();
        p.setColor(QPalette::Window, ToQColor(colour));
        panel->setPalette(p);
    }
}

void TEditResource::ChooseColour(TColor& colour) {
    QColorDialog dialog(ToQColor(colour), this);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    if (Env_.Exec(dialog) == QDialog::Accepted) {
        colour = FromQColor(dialog.selectedColor());
        ShowColours();
    }
}

// ---- buttons ------------------------------------------------------------------------------

int TEditResource::Ask(const QString& text, bool neverAsk) {
    TMsgDialog* msg = TMsgDialog::Instance();
    if (!msg)
        return QMessageBox::warning(this, "Warning", QString(text).replace('\r', '\n'),
                                    QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
                   ? 1
                   : 2;
    msg->SetButtons(4, 5, 3);
    if (neverAsk) msg->ShowNeverAsk();
    return msg->Execute("Warning", text);
}

bool TEditResource::ResourcePageChecks() {
    if (NetwDrive->isChecked()) {
        if (IsOnRootFileSystem(Path->text().toStdString()) && Ask(HardDriveQuestion) != 1)
            return false;
    } else if (IP->isChecked()) {
        const std::string path = Path->text().toStdString();
        if (path.find('/') != std::string::npos) {
            const std::string candidate = HostCandidate(path);
            if (Ask(QString::fromStdString(ReplaceAddressQuestion(path, candidate))) == 1)
                Path->setText(QString::fromStdString(candidate));
        }
    } else if (!Env_.UserKnownCDFileSize || !*Env_.UserKnownCDFileSize) {
        const TFileSizeCheck file = CheckReadOnlyFile(Path->text().toStdString());
        if (!file.Opened) {
            if (TMsgDialog* msg = TMsgDialog::Instance())
                msg->Execute("Warning", FileAccessError);
            else
                QMessageBox::warning(this, "Warning", QString(FileAccessError).trimmed());
        } else if (file.Small()) {
            const int answer = Ask(QString::fromStdString(SmallFileQuestion(file.SizeKb)), true);
            if (TMsgDialog* msg = TMsgDialog::Instance(); msg && Env_.UserKnownCDFileSize)
                *Env_.UserKnownCDFileSize = msg->NeverAskChecked();
            if (answer != 1) return false;
        }
    }
    return true;
}

void TEditResource::NextClick() {
    const int page = Notebook1->currentIndex();
    if (page == 1 && !ResourcePageChecks()) return;
    if (page < LastOfferedPage()) Notebook1->setCurrentIndex(page + 1);
}

void TEditResource::PrevClick() {
    if (Notebook1->currentIndex() > 0) Notebook1->setCurrentIndex(Notebook1->currentIndex() - 1);
}

void TEditResource::CloseBtnClick() {
    if (Notebook1->currentIndex() == LastOfferedPage()) {
        ApplyDialUpPage();
        done(mrOk);
    } else {
        done(mrCancel);
    }
}

void TEditResource::BrowseClick() {
    if (NetwDrive->isChecked()) {
        TSetDrive drive(this);
        drive.SetStartPath(Path->text());
        if (Env_.Exec(drive) == mrOk) Path->setText(drive.DirName->text());
    } else if (CDROM->isChecked()) {
        QFileDialog dialog(this, "Read only file");
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (!Path->text().isEmpty()) dialog.selectFile(Path->text());
        if (Env_.Exec(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            Path->setText(dialog.selectedFiles().first());
    } else if (URLPicker && URLPicker->EntryCount() > 0) {
        if (Env_.Exec(*URLPicker) == mrOk && !URLPicker->SelectedText().isEmpty())
            Path->setText(URLPicker->SelectedText());
    }
}

void TEditResource::MinSpeedEventClick() { EventClick(kMinEvent); }
void TEditResource::MaxSpeedEventClick() { EventClick(kMaxEvent); }

void TEditResource::EventClick(int which) {
    TSpeedEvent& e = which == kMinEvent ? MinEvent : MaxEvent;
    TSetEvent dialog(this);
    dialog.ProcessListAvailable = Env_.ProcessListAvailable;
    dialog.TestActions = Env_.TestActions;
    if (Env_.ListWindows) dialog.ListWindows = Env_.ListWindows;
    dialog.Exec = Env_.Exec;
    dialog.EditLineFont = FontFromSetting(Env_.EditLineFont);
    dialog.LoadEvent(e, which);
    if (Env_.Exec(dialog) != mrOk) return;
    dialog.StoreEvent(e);
    (which == kMinEvent ? PerformMinSpeed : PerformMaxSpeed)->setChecked(EventHasAction(e));
}

void TEditResource::HelpBtnClick() {
    static const char* const Topics[PageCount] = {"Main_index",   "SetResource",  "SetResource2",
                                                  "SetResource3", "SetResource4", "SetResource5",
                                                  "Main_index"};
    OpenHelpTopic(Topics[std::clamp(Notebook1->currentIndex(), 0, PageCount - 1)]);
}

// ---- the dial-up page ------------------------------------------------------------------------

void TEditResource::FillDialTable() {
    DialRows_.assign(1, {"Dialog Box Title", "Button To Push"});
    if (Env_.ConnectWindowsTable)
        for (std::size_t r = 1; r < Env_.ConnectWindowsTable->size(); ++r)
            DialRows_.push_back((*Env_.ConnectWindowsTable)[r]);
    if (DialRows_.size() < 2) DialRows_.emplace_back();
    SyncDialTableView();
}

void TEditResource::SyncDialTableView() {
    SyncingDial_ = true;
    const int rows = static_cast<int>(DialRows_.size()) - 1;
    ConnectWindowsTable->setRowCount(rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < 2; ++c) {
            const QString text = QString::fromStdString(
                DialRows_[static_cast<std::size_t>(r + 1)][static_cast<std::size_t>(c)]);
            QTableWidgetItem* item = ConnectWindowsTable->item(r, c);
            if (!item)
                ConnectWindowsTable->setItem(r, c, new QTableWidgetItem(text));
            else if (item->text() != text)
                item->setText(text);
        }
    SyncingDial_ = false;
}

void TEditResource::DialTableTyped(int viewRow) {
    if (!Shown || SyncingDial_) return;
    const std::size_t row = static_cast<std::size_t>(viewRow + 1);
    if (row >= DialRows_.size()) return;
    for (int c = 0; c < 2; ++c)
        if (const QTableWidgetItem* item = ConnectWindowsTable->item(viewRow, c))
            DialRows_[row][static_cast<std::size_t>(c)] = item->text().toStdString();
    tarvik::DialTableTyped(DialRows_, viewRow + 1);
    SyncDialTableView();
}

void TEditResource::DialTableSelected() {
    if (!Shown || SyncingDial_) return;
    // The view is changed after the selection has settled.
    QTimer::singleShot(0, this, [this] {
        if (tarvik::DialTableSelected(DialRows_)) SyncDialTableView();
    });
}

void TEditResource::ApplyDialUpPage() {
    if (!FirstStartMode) return;
    if (Env_.ConnectWindowsTable) {
        auto& target = *Env_.ConnectWindowsTable;
        target.resize(std::max<std::size_t>(DialRows_.size(), 1));
        for (std::size_t r = 1; r < DialRows_.size(); ++r) target[r] = DialRows_[r];
    }
    if (Env_.SetKeeper) Env_.SetKeeper(KeppDialUp->isChecked(), DialUpTimeout->value() * 1000);
}

}  // namespace tarvik
