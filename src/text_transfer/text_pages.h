#pragma once

#include "link/station_context.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QAbstractButton;
class QWidget;

namespace rava {
class Channel;
}

namespace rava::text {

class TextReceiver;
class TextSender;

// The "Send Text file" and "Receive Text file" tabs: wires the buttons and
// boxes found under the form (by object name) to a TextSender and a
// TextReceiver on the station's text channel.
//
// Send tab: Open... (`Command3`), Send (`Command4`), Clear (`Command9`), the
// file box `Text1` and the caption `Label8`. Receive tab: Receive
// (`Command6`), Break (`Command5`), Clear (`Command10`), the received-text
// box `Text2`, the sender box `Text8` and the caption `Label9`.
class TextPages : public QObject {
    Q_OBJECT
public:
    // Uses the station's text channel and its current pacing interval.
    explicit TextPages(const StationContext& ctx, QObject* parent = nullptr);
    // Uses `channel` and asks `pacingMs` for the pause after each line.
    TextPages(const StationContext& ctx, Channel& channel, std::function<int()> pacingMs,
              QObject* parent = nullptr);
    ~TextPages() override;

    TextSender& sender() { return *sender_; }
    TextReceiver& receiver() { return *receiver_; }
    // The file Send sends; empty until a file was chosen.
    QString selectedFile() const { return selectedFile_; }

private:
    void openFile();
    void sendFile();
    void clearFile();
    void startReceiving();
    void onSendBusy(bool busy);
    void onReceiveBusy(bool busy);
    void showLine(const QByteArray& line, int sender);
    void clearReceived();
    void tell(const QString& message);
    QWidget* control(const char* name) const;
    QAbstractButton* button(const char* name) const;
    void enable(const char* name, bool enabled) const;

    StationContext ctx_;
    TextSender* sender_;
    TextReceiver* receiver_;
    QString selectedFile_;
    bool fileChosen_ = false; // Send is usable
};

} // namespace rava::text
