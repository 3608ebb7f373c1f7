#pragma once

#include "form/station_context.h"
#include "text_timings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class QLabel;
class QPlainTextEdit;
class QLineEdit;
class QPushButton;
class QWidget;

namespace rava {
class Channel;
class OneShot;
} // namespace rava

namespace rava::text {

class FileLoader;
class TextReceiver;
class TextSender;
enum class SendFailure;
enum class ReceiveFailure;

// The controls of the "Send Text file" and "Receive Text file" tabs.
struct TextControls {
    // Send tab
    QPushButton* open;    // Command3 "Open..."
    QPushButton* send;    // Command4 "Send"
    QPushButton* clear;   // Command9 "Clear"
    QPlainTextEdit* file; // Text1, the chosen file
    QLabel* sendCaption;  // Label8
    // Receive tab
    QPushButton* receive;    // Command6 "Receive"
    QPushButton* stop;       // Command5 "Break"
    QPushButton* clearLines; // Command10 "Clear"
    QPlainTextEdit* lines;   // Text2, the received lines
    QLineEdit* sender;       // Text8, the sender of the last line
    QLabel* receiveCaption;  // Label9

    static TextControls resolve(QWidget* form);
};

// The two text tabs: wires their controls to a TextSender and a
// TextReceiver on the station's text channel and says what happened in the
// tabs' captions and in messages.
class TextPages : public QObject {
    Q_OBJECT
public:
    // Received lines are drawn at most this often (one frame at 60 Hz) and
    // never later than this after they came.
    static constexpr int kFrameMs = 16;

    // Uses the station's text channel.
    TextPages(const StationContext& ctx, QWidget* form, QObject* parent = nullptr);
    // Uses `channel` and `timings` instead.
    TextPages(const StationContext& ctx, QWidget* form, Channel& channel, const Timings& timings,
              QObject* parent = nullptr);
    ~TextPages() override;

    TextSender& sender() { return *sender_; }
    TextReceiver& receiver() { return *receiver_; }
    // The file Send sends; empty until a file was chosen.
    QString selectedFile() const { return selectedFile_; }

private:
    void openFile();
    void onFileLoaded(bool ok, const QString& error);
    void sendFile();
    void clearFile();
    void startReceiving();
    void onSendBusy(bool busy);
    void onReceiveBusy(bool busy);
    void onSendFailed(SendFailure failure, const QString& detail);
    void onReceiveFailed(ReceiveFailure failure, const QString& detail);
    void showLine(const QByteArray& line, int sender);
    void scheduleDraw();
    void drawReceived();
    void clearReceived();
    void tell(const QString& message);

    StationContext ctx_;
    TextControls ui_;
    QPointer<Channel> channel_;
    TextSender* sender_;
    TextReceiver* receiver_;
    FileLoader* loader_; // fills Text1 and keeps the bytes Send sends
    QString selectedFile_;
    // Received lines not yet in Text2: they go in together, at most once a
    // frame (the step `drawLines`), so that a burst of lines costs one edit
    // and one repaint instead of one each.
    QString received_;          // the lines, joined by '\n'
    bool haveReceived_ = false; // received_ holds at least one line
    bool boxHasLines_ = false;  // Text2 shows at least one line
    int lastSender_ = 0;
    int receivedCount_ = 0; // lines of the running (or last) reception
    OneShot* drawStep_;
    QElapsedTimer sinceDrawn_;
    bool fileChosen_ = false; // Send is usable: a file was loaded whole
};

} // namespace rava::text
