// The first batch of an image reception read as a header, and the stripping
// of a master's address bytes. Whatever came, a size is accepted only when
// the batch is the sender (master), blanks, the size's digits and data, and
// only from 1 byte to the largest size. A header and blocks as a sender
// writes them read back as written, and stripping the data gives the file
// (unless the data begins with a digit the size could go on with). Any
// stream, stripped in one piece, in pieces or from device to device, loses
// exactly the bytes at 0, 91, 182, ...
#include "fuzz_support.h"
#include "image_transfer/image_stream.h"

#include <QBuffer>
#include <QRegularExpression>

using namespace rava::image;

namespace {

Header checkHeader(const QByteArray& batch, bool master) {
    const Header h = parseHeader(batch, master);
    FUZZ_CHECK(h.sender == (master && !batch.isEmpty() ? quint8(batch[0]) : 0));
    if (!h.accepted()) {
        FUZZ_CHECK(h.size == 0 && h.data.isEmpty());
        return h;
    }
    FUZZ_CHECK(h.size >= 1 && h.size <= kMaxImageSize && batch.endsWith(h.data));
    static const QRegularExpression shape(QStringLiteral("\\A +([0-9]+)\\z"));
    const QByteArray head = batch.left(batch.size() - h.data.size()).mid(master ? 1 : 0);
    const QRegularExpressionMatch m = shape.match(QString::fromLatin1(head));
    FUZZ_CHECK(m.hasMatch() && m.captured(1).toLongLong() == h.size);
    return h;
}

void checkStrip(const QByteArray& stream, int piece) {
    QByteArray want;
    for (qsizetype i = 0; i < stream.size(); ++i)
        if (i % 91 != 0)
            want += stream[i];
    FUZZ_CHECK(stripAddressBytes(stream) == want);
    AddressStripper stripper;
    QByteArray out;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        stripper.feed(stream.constData() + at, qMin<qsizetype>(piece, stream.size() - at), out);
    FUZZ_CHECK(out == want && stripper.position() == stream.size());
    QBuffer from, to;
    from.setData(stream);
    from.open(QIODevice::ReadOnly);
    to.open(QIODevice::WriteOnly);
    FUZZ_CHECK(stripAddressBytes(from, to) == want.size() && to.data() == want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rava::fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    const bool master = flags & 1;
    if (!(flags & 2)) { // whatever came
        const QByteArray batch = in.rest();
        checkHeader(batch, master);
        checkStrip(batch, 1 + flags / 4);
        return 0;
    }
    // A header as written, the file's blocks behind it.
    const int address = in.byte();
    qint64 announced = 0;
    for (int i = 0; i < 4; ++i)
        announced = announced << 8 | in.byte();
    announced = 1 + announced % kMaxImageSize;
    const QByteArray file = in.rest();
    QByteArray blocks;
    for (qsizetype at = 0; at < file.size(); at += kBlockSize)
        blocks += blockOnWire(file.mid(at, kBlockSize), master, address);
    const Header h = checkHeader(headerOnWire(announced, master, address) + blocks, master);
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (!file.isEmpty() && digit(file[0]) && (!master || digit(char(address))))
        return 0;
    FUZZ_CHECK(h.accepted() && h.size == announced && h.sender == (master ? address : 0));
    FUZZ_CHECK(h.data == blocks && (master ? stripAddressBytes(h.data) : h.data) == file);
    return 0;
}
