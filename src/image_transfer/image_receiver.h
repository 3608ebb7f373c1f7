#pragma once

#include "image_stream.h"
#include "image_timings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <memory>
#include <optional>

class QFile;

namespace rava {
class Channel;
class ChannelSession;
struct ChannelFailure;
class OneShot;
class StationSettings;
} // namespace rava

namespace rava::image {

// Why a reception did not start or stopped without an evaluation.
enum class ReceiveFailure {
    TempFiles,   // the private folder or a file in it cannot be used (detail)
    OpenFailed,  // the image channel could not be opened (detail)
    ChannelLost, // the device went away during the reception (detail: "COM 1 (...) is no
                 // longer available")
};

// What an ended reception came to.
struct Reception {
    Verdict verdict = Verdict::NoHeader;
    qint64 announced = 0; // the size the header announced (0: no usable header)
    qint64 stored = 0;    // length of the candidate file
    qint64 elapsedMs = 0; // from the first byte of the accepted header to the end of reception
    QString candidate;    // the file that should hold the image
};

// Receives an image on the image channel into the received-data file
// tempkelto100275.bmp of the private temporary folder. The first batch is
// the header; once a header announcing 1 byte to 1 GiB has been read, every
// batch is data and is appended to the file. The reception ends after
// `Timer4` (500 ms) of silence since the last data batch: the channel is
// closed, on a master the address bytes are stripped into
// tempkelto250881.bmp, and the stored length is compared with the announced
// size.
//
// A header whose digits reach the end of what has arrived is held until
// more bytes come or the line has been quiet for a moment, so that a header
// split across two receive events is read whole.
//
// A batch of blanks and digits that grows past the longest header, and data
// beyond dataBound() of the announced size, end the reception at once with
// their own verdicts: a sender that never goes quiet costs neither memory
// nor disk beyond those bounds.
//
// A header that cannot be read leaves the receiver awaiting a header with
// Timer4 armed (a running Timer4 is not restarted by it), so that the
// evaluation reports it unless Break comes first. Both files are emptied
// when a reception starts and stay after it.
class ImageReceiver : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        AwaitingHeader, // channel open, no header accepted yet
        ReceivingData,  // header accepted: every batch is data
    };
    ImageReceiver(Channel& channel, const StationSettings& settings, QObject* parent = nullptr);
    ImageReceiver(Channel& channel, const StationSettings& settings, const Timings& timings,
                  QObject* parent = nullptr);
    ~ImageReceiver() override;

    State state() const { return state_; }
    bool isBusy() const { return state_ != State::Idle; }
    qint64 receivedCount() const { return received_; }
    // The size the accepted header announced; 0 before a header (kept after
    // the reception ends, until the next one starts).
    qint64 announced() const { return announced_; }
    // Bytes of the image itself received so far: without a master's
    // address bytes, at most the announced size.
    qint64 imageBytesReceived() const;

    // Receive: false when a reception already runs, the temporary files
    // cannot be used or the channel cannot be opened (failed() tells why;
    // nothing else changed).
    bool receive();
    // Break: ends the reception without an evaluation; nothing when idle.
    void stop();

signals:
    // true: other tabs locked, Receive disabled, Break enabled; false: back.
    void busyChanged(bool busy);
    // A header batch was read; `sender` is its first byte on a master, 0 on
    // a slave. headerAccepted() follows when it announced a usable size.
    void headerRead(int sender);
    void headerAccepted(qint64 size);
    // Bytes of the data phase so far (address bytes included).
    void progress(qint64 received);
    // The reception ended by silence, after busyChanged(false).
    void finished(const rava::image::Reception& reception);
    void failed(rava::image::ReceiveFailure failure, const QString& detail);

private:
    void onReceived();
    void takeHeader(const QByteArray& batch);
    void settleHeader();
    void takeData(const QByteArray& bytes);
    void armAfterFailure();
    void onEndOfReception();
    // Ends the reception and reports it: judged by length, or with
    // `verdict` when a bound ended it early.
    void endWith(std::optional<Verdict> verdict);
    void onLost(const ChannelFailure& failure);
    void end();
    Reception evaluate();

    ChannelSession* session_;
    const StationSettings& settings_;
    OneShot* timer4_;
    OneShot* settle_; // a header that may still grow
    QByteArray pendingHeader_;
    State state_ = State::Idle;
    bool master_ = false;
    QString dir_;
    std::unique_ptr<QFile> dataFile_;
    qint64 announced_ = 0;
    qint64 received_ = 0;
    QElapsedTimer since_; // from the first byte of the header being read
};

} // namespace rava::image
