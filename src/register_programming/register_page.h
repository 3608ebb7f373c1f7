#pragma once

#include "form/station_context.h"
#include "register_programmer.h"
#include "register_words.h"

#include <QObject>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace rava {
class Channel;
namespace form {
class EntryBinder;
}
} // namespace rava

namespace rava::registers {

// The controls of the "Register programming" frame on the "Set up" tab.
struct RegisterControls {
    QLineEdit* address;        // Text5, the address to write (0-255)
    QPushButton* readAddress;  // Command16 "Read" on the address row
    QPushButton* writeAddress; // Command17 "Write" on the address row
    QLineEdit* parity;         // Text7, the parity to write (0, 1 or 3)
    QPushButton* readParity;   // Command18 "Read" on the parity row
    QPushButton* writeParity;  // Command19 "Write" on the parity row
    QLabel* status;            // Label17, the outcome of the last operation

    static RegisterControls resolve(QWidget* form);
};

// The "Register programming" frame: the two entry boxes with their filters,
// the four buttons on a RegisterProgrammer over the programming channel, and
// the status line. The buttons are disabled while an operation runs.
class RegisterPage : public QObject {
    Q_OBJECT
public:
    // Uses the station's programming channel and the real timings.
    RegisterPage(const StationContext& ctx, QWidget* form, QObject* parent = nullptr);
    // Uses `channel` and `timings` instead.
    RegisterPage(const StationContext& ctx, QWidget* form, Channel& channel, Timings timings,
                 QObject* parent = nullptr);
    ~RegisterPage() override;

    RegisterProgrammer& programmer() { return *programmer_; }

private:
    void run(Operation operation);
    void onBusy(bool busy);
    void onFinished(const Outcome& outcome);
    void clearStatus();

    StationContext ctx_;
    RegisterControls ui_;
    RegisterProgrammer* programmer_;
    form::EntryBinder* addressEntry_;
    form::EntryBinder* parityEntry_;
};

} // namespace rava::registers
