// Receiving 100,000 lines into the receive box: the real widget (offscreen),
// the text tabs' page code and receiver, fed one line per receive event.
// Prints the time per block of 10,000 lines (flat when appending stays
// linear), the total, and the peak memory of the process.
#include "link/station_settings.h"
#include "support/fake_channel.h"
#include "text_transfer/text_pages.h"
#include "text_transfer/text_receiver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include <cstdio>
#include <sys/resource.h>

using namespace rava;

namespace {

constexpr int kLines = 100000;
constexpr int kBlock = 10000;

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The receive tab's controls, set up as the window sets them up.
    QWidget form;
    form.resize(600, 500);
    auto* box = new QPlainTextEdit(&form);
    box->setObjectName(QStringLiteral("Text2"));
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setFont(QFont(QStringLiteral("MS Sans Serif"), 12));
    box->setGeometry(8, 80, 505, 265);
    (new QLineEdit(&form))->setObjectName(QStringLiteral("Text8"));
    (new QLabel(&form))->setObjectName(QStringLiteral("Label9"));
    (new QLabel(&form))->setObjectName(QStringLiteral("Label8"));
    (new QPlainTextEdit(&form))->setObjectName(QStringLiteral("Text1"));
    for (const char* name :
         {"Command3", "Command4", "Command9", "Command6", "Command5", "Command10"})
        (new QPushButton(&form))->setObjectName(QLatin1String(name));
    form.show();

    test::FakeChannel channel;
    StationSettings settings; // a master
    StationContext ctx;
    ctx.settings = &settings;
    text::TextPages pages(ctx, &form, channel, text::Timings());
    pages.receiver().receive();
    app.processEvents();

    const long before = peakKiB();
    QElapsedTimer total;
    total.start();
    QElapsedTimer block;
    block.start();
    std::printf("receive box: %d lines, one per receive event, master receiver\n", kLines);
    for (int i = 1; i <= kLines; ++i) {
        channel.inject(QByteArray("\x07Line ") + QByteArray::number(i).rightJustified(6, '0') +
                       " of a received text file, caf\xe9\r\n");
        if (i % 100 == 0)
            app.processEvents(); // paint and scroll now and then, as the window would
        if (i % kBlock == 0) {
            std::printf("  lines %6d-%6d: %7.1f ms\n", i - kBlock + 1, i,
                        double(block.nsecsElapsed()) / 1e6);
            block.restart();
        }
    }
    // Break: lines still waiting for their frame go into the box now.
    pages.receiver().stop();
    app.processEvents();
    const double ms = double(total.nsecsElapsed()) / 1e6;
    const long after = peakKiB();
    const bool caretAtEnd = box->textCursor().atEnd();
    std::printf("total %.1f ms (%.2f us per line); blocks in box %d; caret at end: %s; "
                "scrolled to last line: %s\n",
                ms, ms * 1000.0 / kLines, box->document()->blockCount(), caretAtEnd ? "yes" : "no",
                box->verticalScrollBar()->value() == box->verticalScrollBar()->maximum() ? "yes"
                                                                                         : "no");
    std::printf("peak memory (ru_maxrss): %ld KiB before, %ld KiB after (+%ld KiB)\n", before,
                after, after - before);
    return 0;
}
