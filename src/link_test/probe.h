#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

namespace rava::linktest {

// The packets of a link test. Each carries its own check, a CRC-32 over
// everything before it, so that a damaged packet never counts as good:
//
//   probe:         'P' run(4) seq(4) filler ... crc(4)   (the echo sends it back)
//   stats request: 'S' run(4) crc(4)                     (asked once the probes are out)
//   stats answer:  'R' run(4) received(4) damaged(4) duplicated(4) crc(4)
//
// Numbers are big-endian. The filler is a pattern that follows from the
// sequence number, so every byte of a probe is checked.
constexpr int kProbeOverhead = 1 + 4 + 4 + 4;
constexpr int kMinProbeSize = kProbeOverhead;

quint32 crc32(const QByteArray& bytes);

QByteArray makeProbe(quint32 run, quint32 seq, int size);

// What the far end counted of one run's probes.
struct EchoCounts {
    quint32 received = 0;   // good probes, each sequence number once
    quint32 damaged = 0;    // packets that failed their check
    quint32 duplicated = 0; // good probes whose number came before
};

QByteArray makeStatsRequest(quint32 run);
QByteArray makeStatsAnswer(quint32 run, const EchoCounts& counts);

struct Packet {
    enum class Kind { Damaged, Probe, StatsRequest, StatsAnswer };
    Kind kind = Kind::Damaged;
    quint32 run = 0;
    quint32 seq = 0;
    EchoCounts counts;
};

// Reads a packet; anything whose check fails, or whose length or layout is
// not one of the above, is Damaged.
Packet parsePacket(const QByteArray& bytes);

// Whether `bytes` (after the sender's address byte when `addressed`) are one
// whole link-test packet.
bool isWholePacket(const QByteArray& bytes, bool addressed);

// The value below which `fraction` of `sorted` lies (nearest rank); 0 for
// an empty list.
double percentile(const QList<double>& sorted, double fraction);

} // namespace rava::linktest
