// The change handler of the numeric entry boxes, fed keystrokes: a box ends
// up empty or holding a value its rule accepts, and every accepted() value is
// the rounded leading number of what the box shows.
#include "form/entry_binder.h"
#include "form/number_rule.h"
#include "fuzz_support.h"

#include <QApplication>
#include <QLineEdit>

using namespace rava;
using rava::form::EntryBinder;

namespace {

struct Box {
    const char* name;
    int maxLength;
    EntryBinder::Rule rule;
};

const Box kBoxes[] = {
    {"address", 3, EntryBinder::byteRange},                             // Text5, Text3
    {"parity", 1, [](double v) { return v >= 0 && v <= 3 && v != 2; }}, // Text7
    {"slave address", 3, [](double v) { return v >= 1 && v <= 255; }},  // Text4_i
    {"unlimited", 32767, EntryBinder::byteRange},                       // pasted text
};

} // namespace

// One box per kind, made once: a box's first use loads fonts that Qt keeps
// for the whole run, which a check for leaks per input would take for one.
struct Boxes {
    QLineEdit box[std::size(kBoxes)];
    EntryBinder* binder[std::size(kBoxes)];
    int accepted = 0;
    int last = -1;
    Boxes() {
        for (std::size_t i = 0; i < std::size(kBoxes); ++i) {
            box[i].setMaxLength(kBoxes[i].maxLength);
            binder[i] = new EntryBinder(&box[i], kBoxes[i].rule);
            QObject::connect(binder[i], &EntryBinder::accepted, [this](int v) {
                ++accepted;
                last = v;
            });
            box[i].setText(QStringLiteral("1"));
            box[i].clear();
        }
    }
};
Boxes* boxes = nullptr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::makeApplication<QApplication>();
    boxes = new Boxes;
    std::atexit([] { delete boxes; }); // before the application goes
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const std::size_t k = in.byte() % std::size(kBoxes);
    const Box& kind = kBoxes[k];
    QLineEdit& box = boxes->box[k];
    const EntryBinder& binder = *boxes->binder[k];
    box.clear(); // an empty box raises nothing more
    int& accepted = boxes->accepted;
    int& last = boxes->last;
    accepted = 0;
    last = -1;

    while (!in.atEnd()) {
        const std::uint8_t op = in.byte();
        const int before = accepted;
        if (op == 0x08) {
            box.backspace();
        } else if (op == 0x7F) {
            box.clear();
        } else if (op == 0x16) { // paste a run of bytes over the whole text
            box.selectAll();
            box.insert(QString::fromLatin1(in.bytes(in.byte() % 16)));
        } else {
            box.end(false);
            box.insert(QString(QChar(char16_t(op))));
        }
        const QString shown = box.text();
        FUZZ_CHECK(shown.size() <= kind.maxLength);
        if (shown.isEmpty())
            continue;
        // What stays in the box passed the rules ...
        FUZZ_CHECK(!endsWithLowercaseLetter(shown));
        const double v = leadingNumber(shown);
        FUZZ_CHECK(kind.rule(v));
        FUZZ_CHECK(binder.value() == v);
        // ... and a change that left text behind reported its rounded value.
        if (accepted != before)
            FUZZ_CHECK(last == int(roundHalfEven(v)));
        FUZZ_CHECK(last >= 0 && last <= 255);
    }
    return 0;
}
