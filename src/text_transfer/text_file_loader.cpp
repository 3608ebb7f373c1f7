#include "text_file_loader.h"

#include "link/one_shot.h"
#include "text_lines.h"

#include <QDir>

namespace rava::text {

namespace {
constexpr qint64 kMinStepBytes = 16 * 1024;
constexpr qint64 kMaxStepBytes = 16 * 1024 * 1024;
} // namespace

FileLoader::FileLoader(QObject* parent)
    : QObject(parent), step_(new OneShot(QStringLiteral("loadStep"), 0, this)) {
    connect(step_, &OneShot::fired, this, &FileLoader::step);
}

FileLoader::~FileLoader() = default;

bool FileLoader::start(const QString& path, QString* error) {
    auto file = std::make_unique<QFile>();
    const QString refusal = openRegularFile(path, *file);
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return false;
    }
    reset();
    path_ = path;
    // One allocation for the whole file: growing as it comes would hold the
    // old and the new copy at once.
    const qint64 size = file->size();
    if (size > 0)
        bytes_.reserve(size);
    file_ = std::move(file);
    if (!fixedStep_)
        stepBytes_ = 256 * 1024;
    step_->start();
    return true;
}

void FileLoader::reset() {
    step_->stop();
    file_.reset();
    bytes_ = QByteArray();
    shown_ = 0;
}

void FileLoader::step() {
    if (!file_)
        return;
    QElapsedTimer clock;
    clock.start();
    // Read the next piece straight into the kept bytes.
    const qsizetype had = bytes_.size();
    bytes_.resize(had + stepBytes_);
    const qint64 got = file_->read(bytes_.data() + had, stepBytes_);
    bytes_.resize(had + qMax<qint64>(got, 0));
    if (got < 0) {
        finish(false, QStringLiteral("Cannot read the text file %1: %2.")
                          .arg(QDir::toNativeSeparators(path_), file_->errorString()));
        return;
    }
    // A short read of a regular file is its end (checked, in case it grew).
    const bool atEnd = got == 0 || (got < stepBytes_ && file_->atEnd());
    // A CR at the end of what was read may be the first half of a CR LF: it
    // waits for the next piece.
    qsizetype upTo = bytes_.size();
    if (!atEnd && upTo > shown_ && bytes_.at(upTo - 1) == '\r')
        --upTo;
    if (upTo > shown_ || atEnd) {
        QString text = shownText(bytes_.constData() + shown_, upTo - shown_);
        // The last line is shown with a line break like any other.
        if (atEnd && upTo > 0 && bytes_.at(upTo - 1) != '\r' && bytes_.at(upTo - 1) != '\n')
            text += QLatin1Char('\n');
        shown_ = upTo;
        if (!text.isEmpty())
            emit piece(text);
        if (!file_)
            return; // reset from a receiver of the piece
    }
    if (atEnd) {
        finish(true, QString());
        return;
    }
    // Aim the next step at the budget.
    if (!fixedStep_) {
        const qint64 ms = qMax<qint64>(1, clock.elapsed());
        stepBytes_ = qBound(kMinStepBytes, stepBytes_ * budgetMs_ / ms, kMaxStepBytes);
    }
    step_->start();
}

void FileLoader::finish(bool ok, const QString& error) {
    step_->stop();
    file_.reset();
    bytes_.squeeze();
    emit finished(ok, error);
}

} // namespace rava::text
