#include "ui/msg_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextLayout>
#include <QTextOption>

#include "ui/help.h"

namespace tarvik {
namespace {

TMsgDialog* TheInstance = nullptr;
std::optional<int> NextAnswer;
QString LastTitleText, LastMessageText;

// A round light in the button's colour.
QIcon LightIcon(const QColor& color) {
    QPixmap pm(12, 12);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(color);
    p.drawEllipse(1, 1, 10, 10);
    return QIcon(pm);
}

}  // namespace

TMsgDialog::TMsgDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("TMsgDialog");
    setWindowTitle("Error");
    setProperty("helpContext", 480);
    setFixedSize(360, 190);
    setModal(true);

    Picture_ = new QLabel(this);
    Picture_->setGeometry(12, 14, 40, 40);
    Picture_->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));

    MessageTxt = new QPlainTextEdit(this);
    MessageTxt->setObjectName("MessageTxt");
    MessageTxt->setReadOnly(true);
    MessageTxt->setFrameShape(QFrame::NoFrame);
    MessageTxt->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MessageTxt->setGeometry(60, 12, 288, 104);
    MessageTxt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MessageTxt->setFocusPolicy(Qt::NoFocus);

    AskBevel = new QFrame(this);
    AskBevel->setObjectName("AskBevel");
    AskBevel->setFrameShape(QFrame::HLine);
    AskBevel->setFrameShadow(QFrame::Sunken);
    AskBevel->setGeometry(12, 120, 336, 4);
    NeverAsk = new QCheckBox("&Never show this note", this);
    NeverAsk->setObjectName("NeverAsk");
    NeverAsk->setGeometry(12, 126, 336, 20);

    OkBtn = new QPushButton(this);
    OkBtn->setObjectName("OkBtn");
    CancelBtn = new QPushButton(this);
    CancelBtn->setObjectName("CancelBtn");
    HelpBtn = new QPushButton(this);
    HelpBtn->setObjectName("HelpBtn");
    for (QPushButton* b : {OkBtn, CancelBtn, HelpBtn}) {
        b->setAutoDefault(false);
        b->installEventFilter(this);
    }
    NeverAsk->installEventFilter(this);
    CancelBtn->setGeometry(196, 152, 75, 26);
    OkBtn->setGeometry(196, 152, 75, 26);
    HelpBtn->setGeometry(275, 152, 75, 26);
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
    connect(HelpBtn, &QPushButton::clicked, this, [] { OpenHelpTopic("HelpID_5"); });

    SetButtons(1, 0, 3);
    NeverAsk->hide();
    AskBevel->hide();
    TheInstance = this;
}

TMsgDialog::~TMsgDialog() {
    if (TheInstance == this) TheInstance = nullptr;
}

TMsgDialog* TMsgDialog::Instance() { return TheInstance; }

void TMsgDialog::ApplyKind(QPushButton* button, int kind) {
    struct TKind {
        const char* Caption;
        QColor Light;
    };
    static const TKind kinds[] = {{"", {}},
                                  {"Ok", QColor(0x00, 0xFF, 0x00)},
                                  {"Cancel", QColor(0xFF, 0x00, 0x00)},
                                  {"Help", QColor(0x00, 0x00, 0x80)},
                                  {"Yes", QColor(0x00, 0xFF, 0x00)},
                                  {"No", QColor(0xFF, 0x00, 0x00)}};
    if (kind < 0 || kind > 5) return;
    if (kind == 0) {
        button->hide();
        return;
    }
    button->setText(kinds[kind].Caption);
    button->setIcon(LightIcon(kinds[kind].Light));
    button->setProperty("lightColor", kinds[kind].Light);
    button->show();
}

void TMsgDialog::SetButtons(int okKind, int cancelKind, int helpKind) {
    ApplyKind(OkBtn, okKind);
    ApplyKind(CancelBtn, cancelKind);
    ApplyKind(HelpBtn, helpKind);
    const int left = cancelKind != 0 ? CancelBtn->x() - OkBtn->width() - 2 : CancelBtn->x();
    OkBtn->move(left, OkBtn->y());
}

void TMsgDialog::ShowNeverAsk() {
    NeverAsk->show();
    AskBevel->show();
}

bool TMsgDialog::NeverAskChecked() const { return NeverAsk->isChecked(); }

QStringList TMsgDialog::SplitLines(const QString& text) {
    QStringList lines{QString()};
    for (const QChar c : text) {
        if (c == QChar(13))
            lines.append(QString());
        else
            lines.last().append(c);
    }
    return lines;
}

int TMsgDialog::Execute(const QString& title, const QString& text) {
    setWindowTitle(title.left(255));
    Lines_ = SplitLines(text.left(255));
    MessageTxt->setPlainText(DisplayLines().join('\n'));
    if (NextAnswer) {
        const int answer = *NextAnswer;
        NextAnswer.reset();
        LastTitleText = windowTitle();
        LastMessageText = text;
        setFont(QApplication::font());
        UpdateScrollBar();
        done(answer);
        return answer;
    }
    return exec();
}

QStringList TMsgDialog::DisplayLines() const {
    // A line feed (or a Unicode line or paragraph separator) inside a line
    // would break it in the memo: it shows as a blank.
    QStringList shown = Lines_;
    for (QString& line : shown)
        for (QChar& c : line)
            if (c == QChar('\n') || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
                c = QChar(' ');
    return shown;
}

bool TMsgDialog::NeedsScrollBar() const {
    // The lines are laid out as the memo lays them out, at its width without
    // a scroll bar (when they fit there, none is needed) and inside its frame
    // and document margins; the text fits when its last line ends within the
    // inner height. Counting whole text widths per line instead misses the
    // room that word wrapping leaves at the ends of lines.
    const QRect inner = MessageTxt->contentsRect();
    const qreal margin = MessageTxt->document()->documentMargin();
    const qreal width = std::max<qreal>(1, inner.width() - 2 * margin);
    QTextOption option;
    option.setWrapMode(MessageTxt->wordWrapMode());
    qreal height = margin;
    for (const QString& line : DisplayLines()) {
        QTextLayout layout(line, MessageTxt->font());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
            l.setLeadingIncluded(true);
            l.setLineWidth(width);
            height += l.height();
        }
        layout.endLayout();
    }
    return height > inner.height();
}

void TMsgDialog::UpdateScrollBar() {
    MessageTxt->setVerticalScrollBarPolicy(NeedsScrollBar() ? Qt::ScrollBarAlwaysOn
                                                            : Qt::ScrollBarAlwaysOff);
}

void TMsgDialog::showEvent(QShowEvent* event) {
    // The dialog takes the main window's font.
    if (QWidget* main = parentWidget() ? parentWidget()->window() : nullptr) setFont(main->font());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    UpdateScrollBar();
    QDialog::showEvent(event);
}

void TMsgDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        OpenHelpTopic("HelpID_5");
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        done(1);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        done(2);
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TMsgDialog::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Esc answer wherever the focus is.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            key->key() == Qt::Key_Escape) {
            keyPressEvent(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TMsgDialog::done(int result) {
    // Back to the default state for the next caller; the check mark stays.
    SetButtons(1, 0, 3);
    NeverAsk->hide();
    AskBevel->hide();
    QDialog::done(result);
}

void TMsgDialog::SetNextAnswer(int answer) { NextAnswer = answer; }
QString TMsgDialog::LastTitle() { return LastTitleText; }
QString TMsgDialog::LastText() { return LastMessageText; }

}  // namespace tarvik
