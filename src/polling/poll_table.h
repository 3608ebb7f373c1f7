#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <array>

namespace rava::polling {

// The light of a reply box or of the slave's status line. The values are
// the colours as the window encodes them: low byte red, then green, then
// blue.
enum class Light : quint32 {
    White = 16777215,
    Green = 65280,
    Red = 255,
};

// The single byte a slave answers with when it does not recognise a command.
constexpr char kNotRecognised = '\x0F';

// The numeric value of an address or command text as one byte: the leading
// number rounded half to even. Values outside 0..255 give -1.
int addressByte(const QString& text);

// One row of the poll table.
struct PollRow {
    bool enabled = false; // Check1(i): the row takes part in the cycle
    QString address;      // Text4(i) as typed
    QString command;      // Text14(i), the master command
    QString reply;        // Text19(i), the slave reply shown
    Light light = Light::White;
};

// The five rows a master polls, numbered 1 to 5. The page keeps the rows in
// step with what the user types; the master cycle reads them at the moment
// it needs them and writes the replies.
class PollTable : public QObject {
    Q_OBJECT
public:
    static constexpr int kRows = 5;

    using QObject::QObject;

    // Rows are numbered 1 to 5.
    const PollRow& row(int index) const;

    void setEnabled(int index, bool enabled);
    void setAddress(int index, const QString& text);
    void setCommand(int index, const QString& text);
    // Shows a reply: its text and light.
    void setReply(int index, const QString& text, Light light);
    // Empties the reply text and leaves the light as it is.
    void clearReplyText(int index);

    bool anyEnabled() const;

    // The address byte of a row: its address text rounded half to even; an
    // empty or unreadable address is 0.
    int address(int index) const;
    // The poll query of a row: its address byte, then its command, one byte
    // per character.
    QByteArray query(int index) const;
    // The first row (1..5, checked or not) whose address byte is `address`;
    // 0 when none is.
    int rowFor(int address) const;

signals:
    void enabledChanged(int index);
    void replyChanged(int index);

private:
    PollRow& at(int index);

    std::array<PollRow, kRows> rows_;
};

} // namespace rava::polling
