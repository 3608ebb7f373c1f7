// The leading-number rule and the rounding of typed entries: whatever is
// typed (or pasted), the value is a finite number, blanks do not change it,
// and rounding lands on the nearest whole number, halves on the even one.
#include "form/number_rule.h"
#include "fuzz_support.h"

#include <QString>
#include <cmath>
#include <cstring>

using namespace rava;

static void checkText(const QString& text) {
    const double v = leadingNumber(text);
    FUZZ_CHECK(std::isfinite(v));

    QString noBlanks;
    for (QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') &&
            c != QLatin1Char('\r'))
            noBlanks.append(c);
    const double w = leadingNumber(noBlanks);
    FUZZ_CHECK(v == w);

    const double r = roundHalfEven(v);
    FUZZ_CHECK(std::isfinite(r));
    FUZZ_CHECK(r == std::floor(r));
    FUZZ_CHECK(std::fabs(r - v) <= 0.5);
    if (std::fabs(r - v) == 0.5)
        FUZZ_CHECK(std::fmod(r, 2.0) == 0);

    const bool lower =
        !text.isEmpty() && text.back().unicode() >= u'a' && text.back().unicode() <= u'z';
    FUZZ_CHECK(endsWithLowercaseLetter(text) == lower);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // As typed bytes (one character per byte) ...
    checkText(QString::fromLatin1(bytes));
    // ... and as UTF-16, for characters beyond Latin-1 (pasted text).
    checkText(QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2));
    // Rounding on its own over the whole range of doubles, NaN aside.
    if (size >= sizeof(double)) {
        double d;
        std::memcpy(&d, data, sizeof d);
        if (std::isfinite(d)) {
            const double r = roundHalfEven(d);
            FUZZ_CHECK(r == std::floor(r));
            FUZZ_CHECK(std::fabs(r - d) <= 0.5);
        }
    }
    return 0;
}
