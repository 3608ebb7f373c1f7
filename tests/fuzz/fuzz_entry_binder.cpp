// The numeric entry boxes. The input as typed or pasted text: its leading
// number is finite, blanks anywhere do not change it, a plain run of digits
// reads as itself, rounding lands on the nearest whole number (a half on the
// even one), and only "a" to "z" last is lowercase. The input as keystrokes
// and pastes into a box: the box ends up empty or holding text its rule
// accepts, and every accepted() value is the rounded leading number shown.
#include "form/entry_binder.h"
#include "fuzz_support.h"
#include "numbers/number_rule.h"

#include <QApplication>
#include <QLineEdit>
#include <cmath>
#include <cstring>

using namespace rava;
using rava::form::EntryBinder;

namespace {

void checkRounding(double v) {
    const double r = roundHalfEven(v);
    FUZZ_CHECK(r == std::floor(r) && std::fabs(r - v) <= 0.5);
    if (std::fabs(r - v) == 0.5)
        FUZZ_CHECK(std::fmod(r, 2.0) == 0);
}

void checkText(const QString& text) {
    const double v = leadingNumber(text);
    FUZZ_CHECK(std::isfinite(v));
    checkRounding(v);
    QString s;
    for (QChar c : text)
        if (!QStringLiteral(" \t\r\n").contains(c))
            s.append(c);
    FUZZ_CHECK(leadingNumber(s) == v);
    qsizetype digits = 0;
    while (digits < s.size() && s[digits] >= u'0' && s[digits] <= u'9')
        ++digits;
    if (digits > 0 && digits < 300 &&
        (digits == s.size() || !QStringLiteral(".eEdD").contains(s[digits])))
        FUZZ_CHECK(v == s.left(digits).toDouble());
    FUZZ_CHECK(
        endsWithLowercaseLetter(text) ==
        (!text.isEmpty() && QStringLiteral("abcdefghijklmnopqrstuvwxyz").contains(text.back())));
}

struct Kind {
    int maxLength;
    EntryBinder::Rule rule;
};
const Kind kKinds[] = {
    {3, EntryBinder::byteRange},                              // an address
    {1, [](double v) { return v >= 0 && v <= 3 && v != 2; }}, // the parity
    {3, [](double v) { return v >= 1 && v <= 255; }},         // a slave address
};

// One box per kind, made once: a box's first use loads fonts that Qt keeps
// for the whole run, which a check for leaks per input would take for one.
struct Box {
    QLineEdit edit;
    int accepted = -1; // what accepted() gave for the last operation, -1 for none
};
Box* boxes = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeApplication<QApplication>();
    boxes = new Box[std::size(kKinds)];
    for (std::size_t k = 0; k < std::size(kKinds); ++k) {
        boxes[k].edit.setMaxLength(kKinds[k].maxLength);
        auto* binder = new EntryBinder(&boxes[k].edit, kKinds[k].rule);
        QObject::connect(binder, &EntryBinder::accepted, [k](int v) { boxes[k].accepted = v; });
        boxes[k].edit.setText(QStringLiteral("1"));
    }
    std::atexit([] { delete[] boxes; }); // before the application goes
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const QByteArray bytes = in.rest();
    checkText(QString::fromLatin1(bytes)); // typed: one character per byte
    checkText(QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2));
    if (size >= sizeof(double)) { // rounding over the whole range of doubles
        double d;
        std::memcpy(&d, data, sizeof d);
        if (std::isfinite(d))
            checkRounding(d);
    }

    in = fuzz::Input(data, size);
    const std::size_t k = in.byte() % std::size(kKinds);
    QLineEdit& edit = boxes[k].edit;
    edit.clear();
    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        const QString before = edit.text();
        boxes[k].accepted = -1;
        if (op == 0x08) {
            edit.backspace();
        } else if (op == 0x16) { // paste over the whole text
            edit.selectAll();
            edit.insert(QString::fromLatin1(in.bytes(in.byte() % 16)));
        } else {
            edit.end(false);
            edit.insert(QString(QChar(char16_t(op))));
        }
        const QString shown = edit.text();
        if (shown.isEmpty())
            continue;
        const double v = leadingNumber(shown);
        FUZZ_CHECK(!endsWithLowercaseLetter(shown) && kKinds[k].rule(v));
        // A change that left text behind reported its rounded value.
        if (shown != before)
            FUZZ_CHECK(boxes[k].accepted == int(roundHalfEven(v)) && boxes[k].accepted <= 255);
    }
    return 0;
}
