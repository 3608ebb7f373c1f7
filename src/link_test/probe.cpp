#include "probe.h"

#include <QtEndian>
#include <array>
#include <cmath>

namespace rava::linktest {

namespace {

const std::array<quint32, 256>& crcTable() {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

void put32(QByteArray& out, quint32 v) {
    char b[4];
    qToBigEndian(v, b);
    out.append(b, 4);
}

quint32 get32(const QByteArray& in, int at) {
    return qFromBigEndian<quint32>(in.constData() + at);
}

QByteArray sealed(QByteArray body) {
    put32(body, crc32(body));
    return body;
}

} // namespace

quint32 crc32(const QByteArray& bytes) {
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : bytes)
        c = crcTable()[(c ^ quint8(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QByteArray makeProbe(quint32 run, quint32 seq, int size) {
    QByteArray body;
    body.reserve(qMax(size, kMinProbeSize));
    body.append('P');
    put32(body, run);
    put32(body, seq);
    for (int i = 0; body.size() < qMax(size, kMinProbeSize) - 4; ++i)
        body.append(char((seq * 31 + quint32(i) * 7 + 0x41) & 0xFF));
    return sealed(body);
}

QByteArray makeStatsRequest(quint32 run) {
    QByteArray body(1, 'S');
    put32(body, run);
    return sealed(body);
}

QByteArray makeStatsAnswer(quint32 run, const EchoCounts& counts) {
    QByteArray body(1, 'R');
    put32(body, run);
    put32(body, counts.received);
    put32(body, counts.damaged);
    put32(body, counts.duplicated);
    return sealed(body);
}

Packet parsePacket(const QByteArray& bytes) {
    Packet p;
    if (bytes.size() < 9 ||
        crc32(bytes.left(bytes.size() - 4)) != get32(bytes, int(bytes.size()) - 4))
        return p;
    p.run = get32(bytes, 1);
    switch (bytes.at(0)) {
    case 'P':
        if (bytes.size() < kMinProbeSize)
            return p;
        p.seq = get32(bytes, 5);
        // The filler must be the pattern of this number and size: a
        // check that passes by chance on a probe cut short or run together
        // with another still fails here.
        if (bytes != makeProbe(p.run, p.seq, int(bytes.size())))
            return p;
        p.kind = Packet::Kind::Probe;
        return p;
    case 'S':
        if (bytes.size() != 9)
            return p;
        p.kind = Packet::Kind::StatsRequest;
        return p;
    case 'R':
        if (bytes.size() != 21)
            return p;
        p.counts = {get32(bytes, 5), get32(bytes, 9), get32(bytes, 13)};
        p.kind = Packet::Kind::StatsAnswer;
        return p;
    default:
        return p;
    }
}

bool isWholePacket(const QByteArray& bytes, bool addressed) {
    return parsePacket(addressed ? bytes.mid(1) : bytes).kind != Packet::Kind::Damaged;
}

double percentile(const QList<double>& sorted, double fraction) {
    if (sorted.isEmpty())
        return 0;
    const qsizetype rank = qsizetype(std::ceil(fraction * double(sorted.size())));
    return sorted.at(qBound<qsizetype>(0, rank - 1, sorted.size() - 1));
}

} // namespace rava::linktest
