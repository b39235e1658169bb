// TMsgDialog: the program's own modal message box — a title, a multi-line
// text beside a picture, up to three buttons whose captions and light
// colours are chosen per call, and an optional "never show" check box. One
// instance serves the whole run; after every showing it returns to its
// default state (Ok and Help).
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>
#include <optional>

class QCheckBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tarvik {

class TMsgDialog : public QDialog {
    Q_OBJECT
public:
    explicit TMsgDialog(QWidget* parent = nullptr);
    ~TMsgDialog() override;

    // The one instance created by the program entry (null before).
    static TMsgDialog* Instance();

    // Button kinds: 0 hidden, 1 "Ok", 2 "Cancel", 3 "Help", 4 "Yes", 5 "No";
    // any other kind leaves the button as it is.
    void SetButtons(int okKind, int cancelKind, int helpKind);
    // Shows the check box and its separator for the next showing.
    void ShowNeverAsk();
    // Shows the dialog modally: 1 for OkBtn or Enter, 2 for CancelBtn or Esc.
    int Execute(const QString& title, const QString& text);
    bool NeverAskChecked() const;
    // Every way out returns the dialog to its default state.
    void done(int result) override;
    // Closing from the title bar answers like Esc.
    void reject() override { done(2); }

    // The memo lines of a text: a carriage return starts a new line, every
    // other character (a line feed too) goes on the current last line.
    static QStringList SplitLines(const QString& text);
    // Whether the memo needs a vertical scroll bar for these lines.
    bool NeedsScrollBar() const;
    // The memo lines as shown: a line feed inside a line shows as a blank.
    QStringList DisplayLines() const;

    // Test hook: the next Execute returns this answer without showing and
    // remembers what it would have shown.
    static void SetNextAnswer(int answer);
    static QString LastTitle();
    static QString LastText();

    QPushButton* OkBtn;
    QPushButton* CancelBtn;
    QPushButton* HelpBtn;
    QCheckBox* NeverAsk;
    QFrame* AskBevel;
    QPlainTextEdit* MessageTxt;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;


private:
    void ApplyKind(QPushButton* button, int kind);
    void UpdateScrollBar();
    QLabel* Picture_;
    QStringList Lines_;
};

}  // namespace tarvik
