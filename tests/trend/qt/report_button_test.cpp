// The main window's print button opens the system print dialog with
// stay-on-top lifted, and Cancel leaves everything as it was.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPrintDialog>
#include <QPushButton>
#include <QTimer>

#include "monitor/qt/main_window.h"
#include "trend/qt/trend_panel.h"
#include "support/fake_clock.h"
#include "support/qt/temp_program_dir.h"

namespace tarvik {
namespace {

TEST(ReportButton, OpensThePrintDialogWithStayOnTopLifted) {
    test::TFakeClock clock;
    test::TTempProgramDir dir;
    TPingObjectOptions o;
    o.Clock = &clock;
    o.Paths = dir.Paths;
    TPingObject w(o);
    EXPECT_EQ(w.TrendPanel->PrintTrend->toolTip(), "Prints trend of current day");
    w.StayOnTop->setChecked(true);
    w.StayOnTopClick();
    ASSERT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);

    QString dialogName;
    bool onTopDuringDialog = true;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget())) {
            dialogName = dialog->objectName();
            onTopDuringDialog = bool(w.windowFlags() & Qt::WindowStaysOnTopHint);
            dialog->reject();
        }
    });
    poll.start();
    QTimer::singleShot(10000, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    w.TrendPanel->PrintTrend->click();
    poll.stop();

    EXPECT_EQ(dialogName, "PrintDialog1");
    EXPECT_FALSE(onTopDuringDialog);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
}

}  // namespace
}  // namespace tarvik
