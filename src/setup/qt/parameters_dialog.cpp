#include "setup/qt/parameters_dialog.h"

namespace tarvik {

TParameters::TParameters(QWidget* parent) : QDialog(parent) {
    setObjectName("TParameters");
    setWindowTitle("Settings");
}

}  // namespace tarvik
