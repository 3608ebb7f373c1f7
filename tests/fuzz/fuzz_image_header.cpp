// The first batch of an image reception read as a header, whatever came:
// a size is accepted only when the batch really begins with the sender
// (master), blanks and the size's digits, and only from 1 byte to the
// largest size; what follows the digits is handed on as data, unchanged.
// A header as a sender writes it, with the start of the data behind it,
// reads back as it was written whenever the data does not begin with a
// digit (then the batch is ambiguous by its format).
#include "fuzz_support.h"
#include "image_transfer/image_stream.h"

using namespace rava::image;

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

void checkAny(const QByteArray& batch, bool master) {
    const Header h = parseHeader(batch, master);
    FUZZ_CHECK(h.sender == (master && !batch.isEmpty() ? quint8(batch[0]) : 0));
    if (!h.accepted()) {
        FUZZ_CHECK(h.size == 0 && h.data.isEmpty());
        return;
    }
    FUZZ_CHECK(h.size >= 1 && h.size <= kMaxImageSize);
    FUZZ_CHECK(batch.endsWith(h.data));
    // In front of the data: the sender, one blank or more, the digits.
    const QByteArray head = batch.left(batch.size() - h.data.size());
    qsizetype p = master ? 1 : 0;
    const qsizetype blanks = p;
    while (p < head.size() && head[p] == ' ')
        ++p;
    FUZZ_CHECK(p > blanks);
    const QByteArray digits = head.mid(p);
    FUZZ_CHECK(!digits.isEmpty());
    for (char c : digits)
        FUZZ_CHECK(isDigit(c));
    FUZZ_CHECK(digits.toLongLong() == h.size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rava::fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    const bool master = flags & 1;
    if (!(flags & 2)) {
        checkAny(in.rest(), master);
        return 0;
    }
    // A header as written, and the first block(s) behind it in the batch.
    const int address = in.byte();
    qint64 announced = 0;
    for (int i = 0; i < 4; ++i)
        announced = announced << 8 | in.byte();
    announced = 1 + announced % kMaxImageSize;
    QByteArray batch = headerOnWire(announced, master, address);
    QByteArray rest;
    while (!in.atEnd()) {
        const QByteArray block = in.bytes(1 + in.byte() % kBlockSize);
        rest += blockOnWire(block, master, address);
    }
    batch += rest;
    checkAny(batch, master);
    if (!rest.isEmpty() && isDigit(rest[0]))
        return 0;
    const Header h = parseHeader(batch, master);
    FUZZ_CHECK(h.accepted());
    FUZZ_CHECK(h.size == announced);
    FUZZ_CHECK(h.sender == (master ? address : 0));
    FUZZ_CHECK(h.data == rest);
    return 0;
}
