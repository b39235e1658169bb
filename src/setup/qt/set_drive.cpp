#include "setup/qt/set_drive.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "setup/qt/dialog_support.h"

namespace tarvik {

TSetDrive::TSetDrive(QWidget* parent) : QDialog(parent) {
    setObjectName("SetDrive");
    setWindowTitle("Select a folder");
    Model_ = new QFileSystemModel(this);
    Model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden);
    Model_->setRootPath("/");
    SystemTreeView1 = new QTreeView(this);
    SystemTreeView1->setObjectName("SystemTreeView1");
    SystemTreeView1->setModel(Model_);
    for (int c = 1; c < Model_->columnCount(); ++c) SystemTreeView1->hideColumn(c);
    SystemTreeView1->header()->hide();
    auto* label = new QLabel("Folder name:", this);
    DirName = new QLineEdit(this);
    DirName->setObjectName("DirName");
    DirName->setReadOnly(true);
    label->setBuddy(DirName);
    OkBtn = new QPushButton("&Ok", this);
    OkBtn->setObjectName("OkBtn");
    CancelBtn = new QPushButton("&Cancel", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(mrCancel); });
    // The chosen path follows the selected node; a node without a path
    // (the file system's root entry) shows its text in brackets.
    connect(SystemTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                const QString path = Model_->filePath(index);
                DirName->setText(path.isEmpty() ? "[" + Model_->fileName(index) + "]" : path);
            });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SystemTreeView1);
    layout->addWidget(label);
    layout->addWidget(DirName);
    layout->addLayout(buttons);
    resize(380, 420);
    auto* keys = new TDialogKeys(
        this, [this] { done(mrOk); }, [this] { done(mrCancel); }, {});
    keys->WatchChildren();
    SetStartPath(QDir::homePath());
}

void TSetDrive::SetStartPath(const QString& path) {
    QString dir = path.isEmpty() ? QDir::homePath() : path;
    while (!QFileInfo(dir).isDir() && dir != "/" && !dir.isEmpty())
        dir = QFileInfo(dir).absolutePath();
    const QModelIndex index = Model_->index(QFileInfo(dir).isDir() ? dir : "/");
    SystemTreeView1->setCurrentIndex(index);
    SystemTreeView1->scrollTo(index);
    SystemTreeView1->expand(index);
}

void TSetDrive::showEvent(QShowEvent* event) {
    if (QWidget* owner = parentWidget()) ApplyDialogFont(this, owner->window()->font());
    SystemTreeView1->setFocus();
    QDialog::showEvent(event);
}

}  // namespace tarvik
