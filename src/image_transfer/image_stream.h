#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QtGlobal>

class QIODevice;

namespace rava::image {

// An image on the wire: one header write announcing the file's size in
// decimal, then the file in blocks of 90 bytes, one write each. A master
// puts the remote address in front of the header and of every block (in the
// same write); a slave sends header and blocks bare.
constexpr qint64 kBlockSize = 90;
// A master's packet as a receiving master sees it: address byte + block.
constexpr qint64 kPacketSize = kBlockSize + 1;
// Largest size an image may have, sent or announced: a header announcing
// more is taken as garbage, not as a reason to expect gigabytes.
constexpr qint64 kMaxImageSize = qint64(1) << 30;
// The longest header there is: the sender's address byte (from a master),
// the blank and the ten digits of kMaxImageSize. A batch still growing past
// this is no header, whatever follows.
constexpr qint64 kLongestHeader = 1 + 1 + 10;
// What a receiver takes after a header before it gives up on a sender that
// does not stop: the announced size as the line carries it (with a master's
// address bytes) and one packet more.
qint64 dataBound(qint64 announced, bool master);

// The header write for a file of `size` bytes.
QByteArray headerOnWire(qint64 size, bool master, int address);
// One block write: `data` (1 to 90 bytes), after the address on a master.
QByteArray blockOnWire(const QByteArray& data, bool master, int address);
// Number of blocks a file of `size` bytes is cut into (never an empty one).
qint64 blockCount(qint64 size);

// The steps of a send, in order: the header, a block gap, then every full
// block followed by a block gap, then the last-block delay and the last
// block (1 to 90 bytes; a full block when the size is a multiple of 90).
enum class Step { WriteHeader, BlockGap, WriteBlock, LastBlockDelay, WriteLastBlock, Done };
// The step that follows `done` while `unread` file bytes remain unread.
Step nextStep(Step done, qint64 unread);
// Sum of the waits of a send: ceil(size / 90) x gap + last-block delay.
qint64 plannedWaitMs(qint64 size, int blockGapMs, int lastBlockDelayMs);

// The first batch of a reception, taken apart.
struct Header {
    enum class Status {
        Accepted, // a size from 1 to kMaxImageSize
        NoNumber, // the size text does not begin with a number, or it is 0
        Absurd,   // more digits than any size has, or above kMaxImageSize
    };
    Status status = Status::NoNumber;
    qint64 size = 0; // the announced size when accepted, else 0
    int sender = 0;  // master: the value of the first byte; slave: 0
    QByteArray data; // bytes after the size digits: the start of the data
                     // phase (on a master it begins with an address byte)
    // False while the batch could still grow into another header: nothing
    // but the sender, blanks and digits, up to its end (the line may have
    // delivered only the first bytes of the header so far).
    bool complete = true;
    bool accepted() const { return status == Status::Accepted; }
};

// Reads a header batch: on a master the first byte names the sender and the
// size text follows; on a slave the whole batch is the size text. The size
// is the decimal number that follows the blanks the size text begins with
// (at least one, as every sender writes).
// Whatever follows the digits in the same batch is data that arrived early:
// on a slave it begins at the first non-digit; on a master at the next
// address byte of the sender (with an address that is itself a digit, at
// the place where the packet layout of the rest fits).
Header parseHeader(const QByteArray& batch, bool master);

// Removes the address bytes of a master's data phase: the bytes at
// positions 0, 91, 182, ... of the stream (one in front of every block).
// Fed the stream in pieces of any size; copies in runs, not byte by byte.
class AddressStripper {
public:
    // Appends the bytes of `data` that are not address bytes to `out`.
    void feed(const char* data, qint64 size, QByteArray& out);
    qint64 position() const { return position_; }

private:
    qint64 position_ = 0; // stream position of the next byte fed
};
QByteArray stripAddressBytes(const QByteArray& stream);
// Copies `in` from its current position to `out` without the address
// bytes, in chunks. Returns the number of bytes written, -1 on an I/O error.
qint64 stripAddressBytes(QIODevice& in, QIODevice& out);

// The outcome of a reception from what was announced and what was stored.
enum class Verdict {
    Complete,      // the stored image is at least as long as announced
    Incomplete,    // shorter than announced
    NoHeader,      // no usable header was received
    HeaderTooLong, // the header went on past kLongestHeader bytes
    TooMuchData,   // more than dataBound() came after the header
};
Verdict judge(qint64 announced, qint64 stored);

// The statistics lines shown after a good reception.
QString sizeText(qint64 announced);
// Elapsed time rounded to hundredths, a half up (3125 ms -> 3.13), written
// in its shortest form (3.5, not 3.50) with the locale's decimal separator.
QString timeText(qint64 elapsedMs, const QLocale& locale = QLocale());
// announced x 8 / (the elapsed seconds as shown), rounded half up, with the
// locale's digit grouping.
QString baudRateText(qint64 announced, qint64 elapsedMs, const QLocale& locale = QLocale());
// Hundredths of a second in `ms`, a half rounding up.
qint64 centiseconds(qint64 ms);

// Puts a 64-bit value and maximum on a progress bar whose range is an int:
// both are scaled down by the same factor when the maximum does not fit.
struct BarScale {
    explicit BarScale(qint64 maximum = 0);
    int maximum() const { return int(maximum_ / divisor_); }
    int value(qint64 v) const { return int(qBound<qint64>(0, v, maximum_) / divisor_); }
    bool fits(qint64 v) const { return v >= 0 && v <= maximum_; }
    qint64 divisor() const { return divisor_; }

private:
    qint64 maximum_ = 0;
    qint64 divisor_ = 1;
};

} // namespace rava::image
