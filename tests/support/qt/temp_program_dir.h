// A temporary program directory for GUI and end-to-end tests: holds the
// configuration and trend files of one test and is removed afterwards.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>

#include "platform/program_dir.h"

namespace tarvik::test {

class TTempProgramDir {
public:
    TTempProgramDir() {
        Paths.ConfigDir = Dir.path().toStdString() + "/";
        Paths.DataDir = Paths.ConfigDir;
        Paths.HelpDir = Paths.ConfigDir + "help/";
    }
    QString File(const QString& name) const { return Dir.filePath(name); }
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile f(File(name));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    }
    QByteArray Read(const QString& name) const {
        QFile f(File(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir Dir;
    TProgramPaths Paths;
};

}  // namespace tarvik::test
