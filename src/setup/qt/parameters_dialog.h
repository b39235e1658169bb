// TParameters: the program's preferences dialog. It is created once at start
// and lives for the whole run; its pages arrive with the preferences.
#pragma once

#include <QDialog>

namespace tarvik {

class TParameters : public QDialog {
    Q_OBJECT
public:
    explicit TParameters(QWidget* parent = nullptr);
};

}  // namespace tarvik
