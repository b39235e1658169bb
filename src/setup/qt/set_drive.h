// TSetDrive: the folder picker of a network-drive resource, a tree of the
// directories with the chosen path below it. Enter or Ok closes with 1,
// Escape or Cancel with 2.
#pragma once

#include <QDialog>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace tarvik {

class TSetDrive : public QDialog {
    Q_OBJECT
  public:
    explicit TSetDrive(QWidget* parent = nullptr);
    // Opens the tree at this directory (or its nearest existing parent).
    void SetStartPath(const QString& path);
    void reject() override { done(2); }

    QTreeView* SystemTreeView1;
    QLineEdit* DirName;
    QPushButton* OkBtn;
    QPushButton* CancelBtn;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QFileSystemModel* Model_;
};

}  // namespace tarvik
