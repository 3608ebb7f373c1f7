#include "number_rule.h"

#include <QByteArray>
#include <cmath>

namespace rava {

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

int digitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int v = -1;
    if (u >= u'0' && u <= u'9')
        v = u - u'0';
    else if (u >= u'a' && u <= u'f')
        v = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        v = u - u'A' + 10;
    return (v >= 0 && v < base) ? v : -1;
}

double radixNumber(const QString& s, int start, int base) {
    double value = 0;
    for (int i = start; i < s.size(); ++i) {
        const int d = digitValue(s[i], base);
        if (d < 0)
            break;
        value = value * base + d;
    }
    // Too many digits for a double: no number, like an overflowing decimal.
    return std::isfinite(value) ? value : 0;
}

} // namespace

double leadingNumber(const QString& text) {
    QString s;
    s.reserve(text.size());
    for (QChar c : text)
        if (!isBlank(c))
            s.append(c);

    if (s.size() >= 2 && s[0] == QLatin1Char('&')) {
        const QChar kind = s[1].toUpper();
        if (kind == QLatin1Char('H'))
            return radixNumber(s, 2, 16);
        if (kind == QLatin1Char('O'))
            return radixNumber(s, 2, 8);
        return 0;
    }

    // Collect the longest prefix shaped like a decimal number, then convert it
    // with '.' as the decimal point.
    QByteArray number;
    int i = 0;
    const int n = s.size();
    auto at = [&](int k) { return k < n ? s[k].unicode() : u'\0'; };
    if (at(i) == u'+' || at(i) == u'-')
        number.append(char(s[i++].unicode()));
    bool digits = false;
    while (at(i) >= u'0' && at(i) <= u'9') {
        number.append(char(s[i++].unicode()));
        digits = true;
    }
    if (at(i) == u'.') {
        number.append('.');
        ++i;
        while (at(i) >= u'0' && at(i) <= u'9') {
            number.append(char(s[i++].unicode()));
            digits = true;
        }
    }
    if (!digits)
        return 0;
    const char16_t e = at(i);
    if (e == u'E' || e == u'e' || e == u'D' || e == u'd') {
        int k = i + 1;
        QByteArray exponent = "e";
        if (at(k) == u'+' || at(k) == u'-')
            exponent.append(char(s[k++].unicode()));
        bool expDigits = false;
        while (at(k) >= u'0' && at(k) <= u'9') {
            exponent.append(char(s[k++].unicode()));
            expDigits = true;
        }
        if (expDigits)
            number.append(exponent);
    }
    bool ok = false;
    const double value = number.toDouble(&ok); // C locale, whatever the user's
    return ok && std::isfinite(value) ? value : 0;
}

double roundHalfEven(double value) {
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1;
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

bool endsWithLowercaseLetter(const QString& text) {
    if (text.isEmpty())
        return false;
    const char16_t last = text.back().unicode();
    return last >= u'a' && last <= u'z';
}

} // namespace rava
