// Splitting a text file into the lines that go on the wire, and showing it:
// no byte of the file is lost or invented, no line holds a terminator, the
// box shows every line end as one line break, and every line goes out as
// one write framed with the address byte (master) and CR LF.
#include "fuzz_support.h"
#include "text_transfer/text_lines.h"

using namespace rava;

namespace {

// The same split, written the plain way: a line ends at CR LF, at a lone
// CR or at a lone LF. Also the text as the box shows it: each line end
// one '\n'.
QList<QByteArray> reference(const QByteArray& bytes, QString* shown) {
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.append(line);
            line.clear();
            shown->append(QLatin1Char('\n'));
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            line.append(c);
            shown->append(QLatin1Char(c));
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const int address = in.byte();
    const QByteArray file = in.rest();

    const QList<QByteArray> lines = text::splitLines(file);
    QString shown;
    FUZZ_CHECK(lines == reference(file, &shown));
    FUZZ_CHECK(text::countLines(file) == lines.size());
    FUZZ_CHECK(text::shownText(file.constData(), file.size()) == shown);

    text::LineSplitter splitter(file);
    for (const QByteArray& line : lines) {
        FUZZ_CHECK(!splitter.atEnd());
        FUZZ_CHECK(splitter.next() == line);
        FUZZ_CHECK(!line.contains('\r') && !line.contains('\n'));
        for (const bool master : {false, true}) {
            const QByteArray wire = text::lineOnWire(line, master, address);
            FUZZ_CHECK(wire.size() == line.size() + 2 + (master ? 1 : 0));
            if (master)
                FUZZ_CHECK(static_cast<unsigned char>(wire[0]) == address);
            FUZZ_CHECK(wire.endsWith("\r\n"));
            FUZZ_CHECK(wire.mid(master ? 1 : 0, line.size()) == line);
        }
    }
    FUZZ_CHECK(splitter.atEnd());
    FUZZ_CHECK(splitter.next().isEmpty());
    return 0;
}
