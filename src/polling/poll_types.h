#pragma once

#include <QByteArray>
#include <QString>
#include <variant>

namespace rava::polling {

// The single byte a slave answers with when it does not recognise a command.
constexpr char kNotRecognised = '\x0F';

// The waits of polling. The defaults are the real ones; tests shorten them.
struct Timings {
    int pauseMs = 5000;  // Timer7, after each query to a checked row
    int silenceMs = 500; // Timer8, the silence that ends a message
    int holdMs = 1000;   // how long an outcome stays shown
};

// Why a polling cycle or a slave's answering did not start or stopped.
enum class PollFailure {
    OpenFailed,  // the polling channel could not be opened (detail: the reason)
    WriteFailed, // a query or an answer could not be handed to the channel
    ChannelLost, // the device went away (detail: "COM 1 (...) is no longer available")
};

// What became of a master's query, row by row (rows 1 to 5).
struct ReplyOk {
    int row = 0;
    QString text; // the reply without its address byte, one character per byte
};
struct WrongCommand { // the slave did not recognise the command
    int row = 0;
};
struct NoReply { // the pause after the row's query ended without its reply
    int row = 0;
};
struct UnknownSender { // a reply whose address byte matches no row; dropped
    int address = 0;
};
// The display hold of an outcome ended (row 0: the slave's status line).
struct HoldOver {
    int row = 0;
};
using MasterOutcome = std::variant<ReplyOk, WrongCommand, NoReply, UnknownSender, HoldOver>;

// What a slave did with a message.
struct Answered { // the message was the command: the reply went out
    QByteArray message;
    QByteArray reply; // empty: nothing was written
};
struct Refused { // any other message: the not-recognised byte went out
    QByteArray message;
};
struct TooLong {}; // input past the collector's bound: not answered
using SlaveOutcome = std::variant<Answered, Refused, TooLong, HoldOver>;

} // namespace rava::polling
