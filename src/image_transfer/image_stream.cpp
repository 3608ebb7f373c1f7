#include "image_stream.h"

#include <QIODevice>
#include <limits>

namespace rava::image {

namespace {

constexpr int kMaxSizeDigits = 10; // kMaxImageSize has ten digits

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Whether `rest` could be the start of a master's data phase: an address
// byte of `sender` at 0, 91, 182, ... as far as the batch goes.
bool packetsFit(const QByteArray& batch, qsizetype from, char sender) {
    for (qsizetype at = from; at < batch.size(); at += kPacketSize) {
        if (batch.at(at) != sender)
            return false;
    }
    return true;
}

} // namespace

QByteArray headerOnWire(qint64 size, bool master, int address) {
    QByteArray out;
    if (master)
        out.append(char(quint8(address)));
    out.append(' ');
    out.append(QByteArray::number(size));
    return out;
}

QByteArray blockOnWire(const QByteArray& data, bool master, int address) {
    if (!master)
        return data;
    QByteArray out;
    out.reserve(data.size() + 1);
    out.append(char(quint8(address)));
    out.append(data);
    return out;
}

qint64 blockCount(qint64 size) {
    return size <= 0 ? 0 : (size + kBlockSize - 1) / kBlockSize;
}

qint64 dataBound(qint64 announced, bool master) {
    return announced + (master ? blockCount(announced) : 0) + kPacketSize;
}

Step nextStep(Step done, qint64 unread) {
    switch (done) {
    case Step::WriteHeader:
    case Step::WriteBlock:
        return Step::BlockGap;
    case Step::BlockGap:
        if (unread > kBlockSize)
            return Step::WriteBlock;
        return unread > 0 ? Step::LastBlockDelay : Step::Done;
    case Step::LastBlockDelay:
        return Step::WriteLastBlock;
    case Step::WriteLastBlock:
    case Step::Done:
        return Step::Done;
    }
    return Step::Done;
}

qint64 plannedWaitMs(qint64 size, int blockGapMs, int lastBlockDelayMs) {
    return blockCount(size) * blockGapMs + (size > 0 ? lastBlockDelayMs : 0);
}

Header parseHeader(const QByteArray& batch, bool master) {
    Header h;
    qsizetype p = 0;
    char sender = 0;
    if (master) {
        if (batch.isEmpty()) {
            h.complete = false;
            return h;
        }
        sender = batch.at(0);
        h.sender = quint8(sender);
        p = 1;
    }
    // Every header has a blank before its digits: a batch without one is
    // not a header, however it goes on (on a wrong baud rate a digit comes
    // up far more often than a blank and then a digit).
    const qsizetype blanksFrom = p;
    while (p < batch.size() && batch.at(p) == ' ')
        ++p;
    qsizetype run = 0;
    while (p + run < batch.size() && isDigit(batch.at(p + run)))
        ++run;
    if (run == 0 || p == blanksFrom) {
        h.complete = p < batch.size();
        return h;
    }

    // Where the digits of the size end.
    qsizetype digits = run;
    if (master && isDigit(sender)) {
        // The address byte in front of the first block is itself a digit:
        // take the longest number after which the rest lines up as packets.
        for (qsizetype k = qMin<qsizetype>(run, kMaxSizeDigits); k >= 1; --k) {
            const qsizetype at = p + k;
            if (at == batch.size() || (batch.at(at) == sender && packetsFit(batch, at, sender))) {
                digits = k;
                break;
            }
        }
    }
    h.complete = p + digits < batch.size() || digits > kMaxSizeDigits;
    if (digits > kMaxSizeDigits) {
        h.status = Header::Status::Absurd;
        return h;
    }
    const qint64 size = batch.mid(p, digits).toLongLong();
    if (size > kMaxImageSize) {
        h.status = Header::Status::Absurd;
        return h;
    }
    if (size <= 0)
        return h;
    h.status = Header::Status::Accepted;
    h.size = size;
    h.data = batch.mid(p + digits);
    return h;
}

void AddressStripper::feed(const char* data, qint64 size, QByteArray& out) {
    qint64 i = 0;
    while (i < size) {
        const qint64 phase = position_ % kPacketSize;
        if (phase == 0) { // an address byte
            ++i;
            ++position_;
            continue;
        }
        const qint64 run = qMin(size - i, kPacketSize - phase);
        out.append(data + i, qsizetype(run));
        i += run;
        position_ += run;
    }
}

QByteArray stripAddressBytes(const QByteArray& stream) {
    QByteArray out;
    out.reserve(stream.size());
    AddressStripper().feed(stream.constData(), stream.size(), out);
    return out;
}

qint64 stripAddressBytes(QIODevice& in, QIODevice& out) {
    constexpr qint64 kChunk = kPacketSize * 720; // about 64 KiB
    QByteArray buffer(qsizetype(kChunk), Qt::Uninitialized);
    QByteArray stripped;
    stripped.reserve(qsizetype(kChunk));
    AddressStripper stripper;
    qint64 written = 0;
    for (;;) {
        const qint64 n = in.read(buffer.data(), kChunk);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        stripped.truncate(0);
        stripper.feed(buffer.constData(), n, stripped);
        if (out.write(stripped) != stripped.size())
            return -1;
        written += stripped.size();
    }
    return written;
}

Verdict judge(qint64 announced, qint64 stored) {
    if (announced <= 0)
        return Verdict::NoHeader;
    return stored >= announced ? Verdict::Complete : Verdict::Incomplete;
}

qint64 centiseconds(qint64 ms) {
    return ms <= 0 ? 0 : (ms + 5) / 10;
}

QString sizeText(qint64 announced) {
    return QStringLiteral("Image Size: %1 bytes").arg(announced);
}

QString timeText(qint64 elapsedMs, const QLocale& locale) {
    const qint64 cs = centiseconds(elapsedMs);
    const int decimals = cs % 100 == 0 ? 0 : (cs % 10 == 0 ? 1 : 2);
    QLocale plain = locale;
    plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
    return QStringLiteral("Time: %1 seconds")
        .arg(plain.toString(double(cs) / 100.0, 'f', decimals));
}

QString baudRateText(qint64 announced, qint64 elapsedMs, const QLocale& locale) {
    // The rate follows the time as shown; a time that shows as 0 (never
    // after a real reception, which takes at least the 500 ms of silence)
    // counts as one hundredth.
    const qint64 cs = qMax<qint64>(1, centiseconds(elapsedMs));
    const qint64 bits = qMax<qint64>(0, announced) * 8 * 100; // per cs
    const qint64 rate = (2 * bits + cs) / (2 * cs);           // half up
    QLocale grouped = locale;
    grouped.setNumberOptions(grouped.numberOptions() & ~QLocale::OmitGroupSeparator);
    return QStringLiteral("Baud Rate: %1 bps").arg(grouped.toString(rate));
}

BarScale::BarScale(qint64 maximum) : maximum_(qMax<qint64>(0, maximum)) {
    constexpr qint64 kIntMax = std::numeric_limits<int>::max();
    if (maximum_ > kIntMax)
        divisor_ = (maximum_ + kIntMax - 1) / kIntMax;
}

} // namespace rava::image
