#include "ui/msg_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace tarvik {
namespace {

TEST(MsgDialog, SplitLinesByCarriageReturnOnly) {
    const std::pair<QString, QStringList> cases[] = {
        {"a\r\rb", {"a", "", "b"}},
        {"\rx", {"", "x"}},
        {"one\ntwo", {"one\ntwo"}},  // a line feed stays on its line
        {"", {""}},
        {"end\r", {"end", ""}},
    };
    for (const auto& [text, lines] : cases) EXPECT_EQ(TMsgDialog::SplitLines(text), lines) << text.toStdString();
}

TEST(MsgDialog, ButtonKindsAndDefaultStateAfterClose) {
    TMsgDialog dlg;
    dlg.SetButtons(4, 5, 3);
    EXPECT_EQ(dlg.OkBtn->text(), "Yes");
    EXPECT_EQ(dlg.CancelBtn->text(), "No");
    EXPECT_FALSE(dlg.CancelBtn->isHidden());
    EXPECT_EQ(dlg.OkBtn->x(), dlg.CancelBtn->x() - dlg.OkBtn->width() - 2);
    EXPECT_EQ(dlg.OkBtn->property("lightColor").value<QColor>(), QColor(0, 255, 0));
    EXPECT_EQ(dlg.CancelBtn->property("lightColor").value<QColor>(), QColor(255, 0, 0));
    EXPECT_EQ(dlg.HelpBtn->property("lightColor").value<QColor>(), QColor(0, 0, 0x80));
    dlg.SetButtons(9, 9, 0);  // unknown kinds leave the buttons; 0 hides
    EXPECT_EQ(dlg.OkBtn->text(), "Yes");
    EXPECT_TRUE(dlg.HelpBtn->isHidden());

    dlg.SetButtons(4, 5, 3);
    TMsgDialog::SetNextAnswer(1);
    EXPECT_EQ(dlg.Execute("Warning", "Go on?"), 1);
    EXPECT_EQ(TMsgDialog::LastTitle(), "Warning");
    // The next plain message shows only Ok and Help again.
    EXPECT_EQ(dlg.OkBtn->text(), "Ok");
    EXPECT_TRUE(dlg.CancelBtn->isHidden());
    EXPECT_FALSE(dlg.HelpBtn->isHidden());
    EXPECT_EQ(dlg.OkBtn->x(), dlg.CancelBtn->x());
    EXPECT_TRUE(dlg.NeverAsk->isHidden());
}

TEST(MsgDialog, ScrollBarOnlyForLongTexts) {
    TMsgDialog dlg;
    dlg.show();
    TMsgDialog::SetNextAnswer(1);
    dlg.Execute("Error", "Short.");
    EXPECT_FALSE(dlg.NeedsScrollBar());
    QString many;
    for (int i = 0; i < 20; ++i) many += "line\r";
    TMsgDialog::SetNextAnswer(1);
    dlg.Execute("Error", many);
    EXPECT_TRUE(dlg.NeedsScrollBar());
    TMsgDialog::SetNextAnswer(1);
    dlg.Execute("Error", QString(200, 'W'));  // one line far wider than the memo
    EXPECT_TRUE(dlg.NeedsScrollBar());
}

// Answers the modal dialog with a key press once it is shown.
int AnswerWithKey(TMsgDialog& dlg, Qt::Key key, bool focusCheckBox = false) {
    QTimer::singleShot(50, &dlg, [&] {
        QWidget* target = focusCheckBox ? static_cast<QWidget*>(dlg.NeverAsk) : dlg.OkBtn;
        QTest::keyClick(target, key);
    });
    return dlg.Execute("Warning", "Question?");
}

TEST(MsgDialog, EnterAnswersYesAndEscNoWhereverTheFocusIs) {
    TMsgDialog dlg;
    dlg.SetButtons(4, 5, 3);
    EXPECT_EQ(AnswerWithKey(dlg, Qt::Key_Return), 1);
    dlg.SetButtons(4, 5, 3);
    dlg.ShowNeverAsk();
    EXPECT_EQ(AnswerWithKey(dlg, Qt::Key_Escape, true), 2);
    // Closing from the title bar answers like Esc.
    QTimer::singleShot(50, &dlg, [&] { dlg.reject(); });
    EXPECT_EQ(dlg.Execute("Warning", "Question?"), 2);
}

TEST(MsgDialog, NeverAskStaysChecked) {
    TMsgDialog dlg;
    dlg.ShowNeverAsk();
    QTimer::singleShot(50, &dlg, [&] {
        dlg.NeverAsk->setChecked(true);
        dlg.OkBtn->click();
    });
    EXPECT_EQ(dlg.Execute("Warning", "Small file"), 1);
    EXPECT_TRUE(dlg.NeverAskChecked());
    EXPECT_TRUE(dlg.NeverAsk->isHidden());
    dlg.ShowNeverAsk();
    EXPECT_TRUE(dlg.NeverAsk->isChecked());
}

}  // namespace
}  // namespace tarvik
