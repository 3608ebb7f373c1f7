#pragma once

#include "form/messenger.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace rava::test {

// Keeps every error message instead of showing a box.
class RecordingMessenger : public Messenger {
public:
    void error(const QString& text) override { errors << text; }
    void info(const QString&, const QString&) override {}
    QStringList errors;
};

// Writes `bytes` to a file `name` in `dir`; returns its path.
inline QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return f.fileName();
}

} // namespace rava::test
