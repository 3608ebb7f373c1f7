#pragma once

#include "form/station_context.h"
#include "image_stream.h"
#include "image_timings.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace rava {
class Channel;
}

namespace rava::image {

class ImageReceiver;
class ImageSender;
enum class SendFailure;
enum class ReceiveFailure;
struct Reception;

// The controls of the "Send image" and "Receive image" tabs.
struct ImageControls {
    // Send image tab
    QPushButton* open;     // Command7 "Open..."
    QPushButton* send;     // Command8 "Send image"
    QPushButton* clear;    // Command11 "Clear"
    QLabel* preview;       // Image2
    QProgressBar* sendBar; // ProgressBar1
    QLabel* sendCaption;   // Label12
    // Receive image tab
    QPushButton* receive;     // Command12 "Receive"
    QPushButton* stop;        // Command13 "Break"
    QPushButton* clearShown;  // Command14 "Clear"
    QLabel* picture;          // Image3
    QProgressBar* receiveBar; // ProgressBar2
    QLabel* receiveCaption;   // Label13
    QLineEdit* sender;        // Text9, "Received from"
    QLabel* sizeLine;         // Label15
    QLabel* timeLine;         // Label11
    QLabel* rateLine;         // Label14

    static ImageControls resolve(QWidget* form);
};

// The two image tabs: wires their controls to an ImageSender and an
// ImageReceiver on the station's image channel, shows the pictures and the
// statistics and says what happened in captions and messages.
class ImagePages : public QObject {
    Q_OBJECT
public:
    // Uses the station's image channel.
    ImagePages(const StationContext& ctx, QWidget* form, QObject* parent = nullptr);
    // Uses `channel` and `timings` instead.
    ImagePages(const StationContext& ctx, QWidget* form, Channel& channel, const Timings& timings,
               QObject* parent = nullptr);
    ~ImagePages() override;

    ImageSender& sender() { return *sender_; }
    ImageReceiver& receiver() { return *receiver_; }
    // The file Send image sends; empty until a file was chosen.
    QString selectedFile() const { return selectedFile_; }

private:
    void openFile();
    void sendFile();
    void clearSend();
    void startReceiving();
    void clearReceived();
    void resetStatistics();
    void onSendBusy(bool busy);
    void onSendStarted(qint64 size);
    void onSendProgress(qint64 sent);
    void onSendFailed(SendFailure failure, const QString& detail);
    void onReceiveBusy(bool busy);
    void onHeaderRead(int sender);
    void onHeaderAccepted(qint64 size);
    void onReceiveProgress(qint64 received);
    void onReceived(const Reception& reception);
    void onReceiveFailed(ReceiveFailure failure, const QString& detail);
    // The two reception boxes the user answers by trying again.
    void warn(const QString& message);
    void tell(const QString& message);

    StationContext ctx_;
    ImageControls ui_;
    QPointer<Channel> channel_;
    ImageSender* sender_;
    ImageReceiver* receiver_;
    QString selectedFile_;
    BarScale sendScale_;
    BarScale receiveScale_;
    // The send bar is repainted at most once a frame: a block's pause must
    // not wait for a repaint per block.
    QTimer sendBarFrame_;
    int sendBarValue_ = 0;
};

// The picture in the file at `path`, decoded with Qt's image plugins and
// scaled to `size` when that is valid; a null image when it does not decode.
QImage loadPicture(const QString& path, const QSize& size = QSize());

} // namespace rava::image
