#include "poll_table.h"

#include "numbers/number_rule.h"

#include <QtGlobal>

namespace rava::polling {

int addressByte(const QString& text) {
    const double value = roundHalfEven(leadingNumber(text));
    if (!(value >= 0 && value <= 255))
        return -1;
    return static_cast<int>(value);
}

const PollRow& PollTable::row(int index) const {
    Q_ASSERT(index >= 1 && index <= kRows);
    return rows_[size_t(qBound(1, index, kRows) - 1)];
}

PollRow& PollTable::at(int index) {
    Q_ASSERT(index >= 1 && index <= kRows);
    return rows_[size_t(qBound(1, index, kRows) - 1)];
}

void PollTable::setEnabled(int index, bool enabled) {
    if (at(index).enabled == enabled)
        return;
    at(index).enabled = enabled;
    emit enabledChanged(index);
}

void PollTable::setAddress(int index, int address) {
    at(index).address = address >= 0 && address <= 255 ? address : 0;
}

void PollTable::setCommand(int index, const QString& text) {
    at(index).command = text;
}

bool PollTable::anyEnabled() const {
    for (const PollRow& r : rows_)
        if (r.enabled)
            return true;
    return false;
}

QByteArray PollTable::query(int index) const {
    QByteArray bytes(1, char(row(index).address));
    bytes.append(row(index).command.toLatin1());
    return bytes;
}

int PollTable::rowFor(int address) const {
    for (int i = 1; i <= kRows; ++i)
        if (row(i).address == address)
            return i;
    return 0;
}

} // namespace rava::polling
