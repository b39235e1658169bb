#include "trend/qt/trend_time_period.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "engine/ping_thread.h"
#include "ui/help.h"

namespace tarvik {
namespace {

QSpinBox* Spin(const char* name, int max, int step, int value, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(0, max);
    s->setSingleStep(step);
    s->setValue(value);
    s->setAlignment(Qt::AlignRight);
    return s;
}

void SetText(QSpinBox* spin, const std::string& text) {
    spin->setValue(std::clamp(ParseCellInt(text), spin->minimum(), spin->maximum()));
}

}  // namespace

TTrendTimePeriod::TTrendTimePeriod(QWidget* parent) : QDialog(parent) {
    setObjectName("TrendTimePeriod");
    setWindowTitle("Select the Time Period");
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    FromTimeHours = Spin("FromTimeHours", 24, 1, 0, this);
    FromTimeMin = Spin("FromTimeMin", 45, 15, 0, this);
    TillTimeHours = Spin("TillTimeHours", 24, 1, 24, this);
    TillTimeMins = Spin("TillTimeMins", 45, 15, 0, this);
    BtnOk = new QPushButton("&Ok", this);
    BtnOk->setObjectName("BtnOk");
    CancelBtn = new QPushButton("&Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    BtnHelp = new QPushButton("&Help", this);
    BtnHelp->setObjectName("BtnHelp");
    // Enter is the dialog's own key (below), not a default button's.
    for (QPushButton* b : {BtnOk, CancelBtn, BtnHelp}) b->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("from", this), 0, 0);
    grid->addWidget(FromTimeHours, 0, 1);
    grid->addWidget(new QLabel(":", this), 0, 2);
    grid->addWidget(FromTimeMin, 0, 3);
    grid->addWidget(new QLabel("till", this), 1, 0);
    grid->addWidget(TillTimeHours, 1, 1);
    grid->addWidget(new QLabel(":", this), 1, 2);
    grid->addWidget(TillTimeMins, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BtnOk);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(BtnHelp);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());

    connect(BtnOk, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
    connect(BtnHelp, &QPushButton::clicked, this, [] { OpenHelpTopic("Copy"); });
}

void TTrendTimePeriod::SetTexts(const TTrendPeriod& period) {
    SetText(FromTimeHours, period.FromHours);
    SetText(FromTimeMin, period.FromMinutes);
    SetText(TillTimeHours, period.TillHours);
    SetText(TillTimeMins, period.TillMinutes);
}

TTrendPeriod TTrendTimePeriod::Texts() const {
    return {FromTimeHours->cleanText().toStdString(), FromTimeMin->cleanText().toStdString(),
            TillTimeHours->cleanText().toStdString(), TillTimeMins->cleanText().toStdString()};
}

void TTrendTimePeriod::SetEditorFont(const QFont& font) {
    for (QSpinBox* s : {FromTimeHours, FromTimeMin, TillTimeHours, TillTimeMins}) s->setFont(font);
    setFixedSize(sizeHint());
}

void TTrendTimePeriod::done(int result) {
    if (result == 1) {
        // A value typed but not yet committed counts.
        for (QSpinBox* s : {FromTimeHours, FromTimeMin, TillTimeHours, TillTimeMins})
            s->interpretText();
        const TTrendPeriod texts = Texts();
        FromSlot = tarvik::FromSlot(texts);
        TillSlot = tarvik::TillSlot(texts);
    }
    QDialog::done(result);
}

void TTrendTimePeriod::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            done(1);
            return;
        case Qt::Key_Escape:
            done(2);
            return;
        case Qt::Key_F1:
            OpenHelpTopic("Copy");
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

}  // namespace tarvik
