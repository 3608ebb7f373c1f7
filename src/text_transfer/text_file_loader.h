#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <memory>

namespace rava {
class OneShot;
}

namespace rava::text {

// Reads a text file for the "Send Text file" box a piece at a time, one
// piece per step of the timer `loadStep`, so that the window goes on drawing
// and answering while a large file loads. Each step reads as much as fits
// in its time budget, keeps the bytes (they are what Send sends) and hands
// the piece over as the box shows it: one character per byte and every line
// end (CR LF, CR or a lone LF) a line break; the last line gets one too.
class FileLoader : public QObject {
    Q_OBJECT
public:
    // What one step may take, reading and showing included.
    static constexpr int kStepBudgetMs = 25;

    explicit FileLoader(QObject* parent = nullptr);
    ~FileLoader() override;

    // Opens `path` and starts loading it; the first piece follows on a
    // later step. Returns false with `error` (a sentence for the user) when
    // the path cannot be opened or is no regular file: then nothing changed,
    // and a load that was running goes on.
    bool start(const QString& path, QString* error);
    // Ends a running load without a further signal and lets go of the
    // bytes read.
    void reset();

    bool isLoading() const { return file_ != nullptr; }
    QString path() const { return path_; }
    // The bytes read so far; the whole file once finished(true) came.
    const QByteArray& bytes() const { return bytes_; }

    // Step budget in milliseconds.
    void setStepBudget(int ms) { budgetMs_ = ms; }
    // Reads exactly `bytes` per step instead of adapting to the budget
    // (tests use tiny steps to cut the file at every place).
    void setStepBytes(qint64 bytes) {
        stepBytes_ = qMax<qint64>(1, bytes);
        fixedStep_ = true;
    }

signals:
    // The next piece of the file as the box shows it.
    void piece(const QString& text);
    // The load is over: the whole file read (`ok`), or reading failed
    // (`error` says why; the pieces shown so far stay valid).
    void finished(bool ok, const QString& error);

private:
    void step();
    void finish(bool ok, const QString& error);

    OneShot* step_;
    std::unique_ptr<QFile> file_; // while loading
    QString path_;
    QByteArray bytes_;
    qsizetype shown_ = 0;           // bytes of bytes_ handed over as pieces
    qint64 stepBytes_ = 256 * 1024; // read and shown per step, adapted
    int budgetMs_ = kStepBudgetMs;
    bool fixedStep_ = false;
};

} // namespace rava::text
