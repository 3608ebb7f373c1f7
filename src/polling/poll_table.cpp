#include "poll_table.h"

#include "form/number_rule.h"

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

void PollTable::setAddress(int index, const QString& text) {
    at(index).address = text;
}

void PollTable::setCommand(int index, const QString& text) {
    at(index).command = text;
}

void PollTable::setReply(int index, const QString& text, Light light) {
    PollRow& r = at(index);
    r.reply = text;
    r.light = light;
    emit replyChanged(index);
}

void PollTable::clearReplyText(int index) {
    at(index).reply.clear();
    emit replyChanged(index);
}

bool PollTable::anyEnabled() const {
    for (const PollRow& r : rows_)
        if (r.enabled)
            return true;
    return false;
}

int PollTable::address(int index) const {
    // The entry filter keeps 1..255 in the box; anything else reads as 0.
    return qMax(0, addressByte(row(index).address));
}

QByteArray PollTable::query(int index) const {
    QByteArray bytes(1, char(address(index)));
    bytes.append(row(index).command.toLatin1());
    return bytes;
}

int PollTable::rowFor(int address) const {
    for (int i = 1; i <= kRows; ++i)
        if (this->address(i) == address)
            return i;
    return 0;
}

} // namespace rava::polling
