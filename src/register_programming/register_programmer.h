#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

namespace rava {
class Channel;
class ChannelSession;
struct ChannelFailure;
class OneShot;
} // namespace rava

namespace rava::registers {

// The module registers the tool programs, by their register number.
enum class Register : quint8 {
    Address = 0, // the module address, 0 to 255
    Parity = 3,  // the line parity: 0 none, 1 odd, 3 even
};

// The four operations, with their pending-operation codes 1 to 4.
enum class Operation {
    WriteAddress = 1,
    ReadAddress = 2,
    WriteParity = 3,
    ReadParity = 4,
};

Register registerOf(Operation operation);
bool isWrite(Operation operation);

// "$" and the register number: asks the module for the register's value.
QByteArray readRequest(Register reg);
// "#", the register number and the new value: the module stores the value
// and answers nothing.
QByteArray writeRequest(Register reg, quint8 value);

// How an operation ended. Exactly one outcome ends every operation that was
// started.
struct Outcome {
    enum class Kind {
        Value,      // a read got its reply: `value`
        Done,       // a write read back the value it asked for: `value`
        Mismatch,   // a write read back another value (`value`) than `requested`
        NoReply,    // no reply within the reply timeout
        OutOfRange, // a write's value does not fit a register; nothing was sent
        OpenFailed, // the channel could not be opened; `detail` says why, naming the device
        ChannelLost // the device failed during the operation (or refused the request):
                    // `detail` is "COM 1 (...) is no longer available"
    };

    Operation operation = Operation::ReadAddress;
    Kind kind = Kind::NoReply;
    int value = -1;       // the reply byte, -1 when none came
    double requested = 0; // a write's requested value, as typed (unrounded)
    QString detail;

    bool ok() const { return kind == Kind::Value || kind == Kind::Done; }
};

// The waits of register programming. The defaults are the real ones; tests
// shorten them.
struct Timings {
    int settleMs = 1000;       // Timer3: write request to read-back
    int replyTimeoutMs = 1000; // Timer6: last request to reply
};

// One register operation at a time on the programming channel.
//
// A read opens the channel, writes "$" reg, and waits for the reply (the
// reply timeout `Timer6`). A write opens the channel, writes "#" reg value,
// waits for the module to store the value (the settle wait `Timer3`; the
// module answers nothing, so anything arriving now is dropped), then writes
// the read-back "$" reg and waits for its reply like a read; the first reply
// byte is compared with the requested value as typed, not rounded (2.5 is
// written as 2 and then reported as failed). Only the first byte of a reply
// counts. Every operation ends with one finished() outcome and the channel
// closed.
//
// A request for an operation while another one runs is ignored: the
// channel is never opened twice. Destroying the programmer ends a running
// operation and closes the channel.
class RegisterProgrammer : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,          // channel closed, no operation
        Settling,      // write request sent; Timer3 runs
        AwaitingReply, // read request (or read-back) sent; Timer6 runs
    };

    explicit RegisterProgrammer(Channel& channel, QObject* parent = nullptr);
    RegisterProgrammer(Channel& channel, Timings timings, QObject* parent = nullptr);
    ~RegisterProgrammer() override;

    State state() const { return state_; }
    bool isBusy() const { return state_ != State::Idle; }
    // The last operation started, none before the first.
    std::optional<Operation> lastOperation() const { return last_; }
    Timings timings() const { return timings_; }

    // Start an operation. false: another operation runs and this one was
    // ignored. true: the operation started, or ended at once (out of range,
    // channel not opened) with its finished() already emitted.
    bool read(Register reg);
    bool write(Register reg, double requested);
    bool start(Operation operation, double requested = 0);

signals:
    // true while an operation holds the channel.
    void busyChanged(bool busy);
    void stateChanged(rava::registers::RegisterProgrammer::State state);
    void finished(const rava::registers::Outcome& outcome);

private:
    void enter(State state);
    void sendReadBack();
    void onReceived();
    void onReplyTimeout();
    void onLost(const ChannelFailure& failure);
    void finish(Outcome::Kind kind, int value = -1, const QString& detail = QString());

    ChannelSession* session_;
    Timings timings_;
    OneShot* settle_; // Timer3
    OneShot* reply_;  // Timer6
    State state_ = State::Idle;
    std::optional<Operation> last_;
    double requested_ = 0;
};

} // namespace rava::registers
