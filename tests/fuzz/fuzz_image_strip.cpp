// Stripping a master's data phase of its address bytes, the stream fed in
// pieces of any size: the result is exactly that of walking the stream one
// byte at a time with a counter from 1 to 92, dropping the first byte and
// every byte where the counter reaches 92 -- in one piece, in pieces, and
// from file to file.
#include "fuzz_support.h"
#include "image_transfer/image_stream.h"

#include <QBuffer>

using namespace rava::image;

namespace {

QByteArray reference(const QByteArray& stream) {
    QByteArray out;
    int counter = 0;
    for (qsizetype i = 1; i <= stream.size(); ++i) {
        ++counter;
        const char byte = stream[i - 1];
        if (i != 1 && counter != 92)
            out.append(byte);
        if (counter == 92)
            counter = 1;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rava::fuzz::Input in(data, size);
    // The first bytes say where the pieces end; the rest is the stream.
    const int cuts = in.byte() % 16;
    QList<int> pieces;
    for (int i = 0; i < cuts; ++i)
        pieces.append(1 + in.byte() * 3);
    // Streams longer than the input: the input repeated.
    const QByteArray body = in.rest();
    QByteArray stream;
    const int copies = body.isEmpty() ? 0 : 1 + (cuts * 7) % 5;
    for (int i = 0; i < copies; ++i)
        stream += body;
    const QByteArray want = reference(stream);

    FUZZ_CHECK(stripAddressBytes(stream) == want);

    AddressStripper stripper;
    QByteArray out;
    qsizetype at = 0;
    for (int i = 0; at < stream.size(); ++i) {
        const qsizetype n = pieces.isEmpty()
                                ? stream.size()
                                : qMin<qsizetype>(pieces[i % pieces.size()], stream.size() - at);
        stripper.feed(stream.constData() + at, n, out);
        at += n;
    }
    FUZZ_CHECK(stripper.position() == stream.size());
    FUZZ_CHECK(out == want);

    QByteArray copy = stream;
    QBuffer from(&copy), to;
    from.open(QIODevice::ReadOnly);
    to.open(QIODevice::WriteOnly);
    FUZZ_CHECK(stripAddressBytes(from, to) == want.size());
    FUZZ_CHECK(to.data() == want);
    return 0;
}
