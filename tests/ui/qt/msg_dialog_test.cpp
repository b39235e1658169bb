#include "ui/msg_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
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

// Whether the whole text is visible in the memo without a scroll bar, as
// the memo really lays it out.
bool FitsWithoutScrollBar(TMsgDialog& dlg) {
    dlg.MessageTxt->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QApplication::processEvents();
    QTextCursor end(dlg.MessageTxt->document());
    end.movePosition(QTextCursor::End);
    return dlg.MessageTxt->cursorRect(end).bottom() < dlg.MessageTxt->viewport()->height();
}

// A scroll bar exactly when the text does not fit: short lines on both sides
// of the last one that fits, lines that wrap at words or anywhere, and line
// feeds inside lines, in the window's font and a larger one.
TEST(MsgDialog, ScrollBarExactlyWhenTheTextDoesNotFit) {
    QStringList texts;
    for (int n = 1; n <= 12; ++n) texts << QStringList(n, "Short line.").join('\r');
    texts << QString("word ").repeated(40) << QString("word ").repeated(60)
          << QString(200, 'W') << QStringList(6, "one\ntwo").join('\r');
    for (const int points : {8, 12}) {
        QFont font("Sans Serif", points);
        font.setBold(true);
        int withBar = 0;
        for (const QString& text : texts) {
            TMsgDialog dlg;
            dlg.setFont(font);
            bool bar = false, fits = false;
            QTimer::singleShot(0, &dlg, [&] {
                bar = dlg.MessageTxt->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn;
                EXPECT_EQ(bar, dlg.NeedsScrollBar());
                fits = FitsWithoutScrollBar(dlg);
                dlg.done(1);
            });
            dlg.Execute("Error", text);
            EXPECT_EQ(bar, !fits) << points << " pt: " << text.toStdString();
            withBar += bar;
        }
        EXPECT_GT(withBar, 0);  // the table reaches past the memo's height
        EXPECT_LT(withBar, texts.size());
    }
}

// A line feed stays inside its line: only carriage returns make memo lines.
TEST(MsgDialog, LineFeedDoesNotBreakTheLine) {
    TMsgDialog dlg;
    TMsgDialog::SetNextAnswer(1);
    dlg.Execute("Error", "one\ntwo\rthree\r\nfour");
    const QTextDocument* doc = dlg.MessageTxt->document();
    ASSERT_EQ(doc->blockCount(), 3);
    EXPECT_EQ(doc->findBlockByNumber(0).text(), "one two");
    EXPECT_EQ(doc->findBlockByNumber(1).text(), "three");
    EXPECT_EQ(doc->findBlockByNumber(2).text(), " four");
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
