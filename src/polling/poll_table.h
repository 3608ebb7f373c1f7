#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>

namespace rava::polling {

// The numeric value of an address or command text as one byte: the leading
// number rounded half to even. Values outside 0..255 give -1.
int addressByte(const QString& text);

// One row of the poll table.
struct PollRow {
    bool enabled = false; // the row takes part in the cycle
    int address = 0;      // the slave's address byte
    QString command;      // the master command
};

// The five rows a master polls, numbered 1 to 5. The page keeps the rows in
// step with what the user types; the master cycle reads them at the moment
// it needs them.
class PollTable : public QObject {
    Q_OBJECT
public:
    static constexpr int kRows = 5;

    using QObject::QObject;

    // Rows are numbered 1 to 5.
    const PollRow& row(int index) const;

    void setEnabled(int index, bool enabled);
    // An address outside 0..255 is kept as 0.
    void setAddress(int index, int address);
    void setCommand(int index, const QString& text);

    bool anyEnabled() const;

    // The poll query of a row: its address byte, then its command, one byte
    // per character.
    QByteArray query(int index) const;
    // The first row (1..5, checked or not) whose address byte is `address`;
    // 0 when none is.
    int rowFor(int address) const;

signals:
    void enabledChanged(int index);

private:
    PollRow& at(int index);

    std::array<PollRow, kRows> rows_;
};

} // namespace rava::polling
