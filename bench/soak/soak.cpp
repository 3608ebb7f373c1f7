// Soak: a master and two slaves joined by the module simulator over a lossy,
// noisy radio link (--loss 0.1 --corrupt 0.01), driven through the feature
// classes without the window for a given time: text files both ways, a
// polling cycle (and images once the image classes are built in). Prints
// per feature what was sent, what arrived intact, what arrived damaged, what
// went missing and what was reported as failed, and the resident memory at
// the start and the end. Exits 3 on a hang (a phase that does not end) and
// 5 on a result that contradicts what was sent and is shown as good.
//
//   bench_soak [--minutes M] [--seed N] [--sim PATH]
#include "link/line_settings.h"
#include "link/one_shot.h"
#include "link/station_link.h"
#include "link/station_settings.h"
#include "polling/master_poller.h"
#include "polling/message_collector.h"
#include "polling/poll_table.h"
#include "polling/slave_responder.h"
#include "text_transfer/text_receiver.h"
#include "text_transfer/text_sender.h"
#ifdef RAVA2_SOAK_IMAGE
#include "image_transfer/image_receiver.h"
#include "image_transfer/image_sender.h"

#include <QImage>
#endif

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <unistd.h>

using namespace rava;

namespace {

double residentMb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// One station: its settings and its four channels on COM `port`, with the
// feature objects it uses.
struct Station {
    QString name;
    int address;
    StationSettings settings;
    std::unique_ptr<StationLink> link;
    std::unique_ptr<text::TextSender> textSender;
    std::unique_ptr<text::TextReceiver> textReceiver;
    std::unique_ptr<polling::MessageCollector> collector;
#ifdef RAVA2_SOAK_IMAGE
    std::unique_ptr<image::ImageSender> imageSender;
    std::unique_ptr<image::ImageReceiver> imageReceiver;
#endif

    Station(const QString& n, int addr, int port, Mode mode) : name(n), address(addr) {
        link = std::make_unique<StationLink>(settings);
        settings.setLineSetting(kDefaultLineSetting);
        settings.setPort(port);
        settings.setMode(mode);
        textSender = std::make_unique<text::TextSender>(link->textChannel(), settings);
        textReceiver = std::make_unique<text::TextReceiver>(link->textChannel(), settings);
        collector =
            std::make_unique<polling::MessageCollector>(link->pollingChannel(), polling::Timings());
#ifdef RAVA2_SOAK_IMAGE
        imageSender = std::make_unique<image::ImageSender>(link->imageChannel(), settings);
        imageReceiver = std::make_unique<image::ImageReceiver>(link->imageChannel(), settings);
#endif
    }
};

// What one feature did over the whole run.
struct Tally {
    const char* unit = "";
    qint64 transfers = 0;      // transfers (or poll queries) run
    qint64 sent = 0;           // lines / queries / images sent
    qint64 intact = 0;         // arrived exactly as sent
    qint64 damaged = 0;        // arrived and shown, but not as sent
    qint64 missing = 0;        // sent, nothing arrived
    qint64 failed = 0;         // reported as failed with a message
    qint64 wrongShownGood = 0; // damaged, yet shown with no sign of trouble
};

class Soak : public QObject {
public:
    Soak(const QString& links, qint64 durationMs, quint32 seed)
        : rng_(seed), durationMs_(durationMs) {
        for (int i = 1; i <= 3; ++i)
            qputenv(qPrintable(QStringLiteral("RAVA2_COM%1").arg(i)),
                    QDir(links).filePath(QStringList{"M", "S1", "S2"}[i - 1]).toLocal8Bit());
        m_ = std::make_unique<Station>(QStringLiteral("M"), 0, 1, Mode::Master);
        s1_ = std::make_unique<Station>(QStringLiteral("S1"), 1, 2, Mode::Slave);
        s2_ = std::make_unique<Station>(QStringLiteral("S2"), 2, 3, Mode::Slave);
        text_.unit = "lines";
        poll_.unit = "queries";
        image_.unit = "images";
        watchdog_.setSingleShot(true);
        connect(&watchdog_, &QTimer::timeout, this, [this] {
            std::fprintf(stderr, "HANG: phase '%s' did not end within %d s\n", phase_.c_str(),
                         kWatchdogMs / 1000);
            hung_ = true;
            QCoreApplication::exit(3);
        });
    }

    void start() {
        clock_.start();
        rssStart_ = residentMb();
        nextPhase();
    }

    int report() const {
        std::printf("\nsoak: %.1f minutes, master M and slaves S1, S2, --loss 0.1 --corrupt 0.01\n",
                    double(clock_.elapsed()) / 60000.0);
        std::printf("%-8s %9s %8s %8s %8s %8s %8s %9s  %s\n", "feature", "transfers", "sent",
                    "intact", "damaged", "missing", "failed", "unflagged", "unit");
        auto row = [](const char* name, const Tally& t) {
            std::printf("%-8s %9lld %8lld %8lld %8lld %8lld %8lld %9lld  %s\n", name,
                        (long long)t.transfers, (long long)t.sent, (long long)t.intact,
                        (long long)t.damaged, (long long)t.missing, (long long)t.failed,
                        (long long)t.wrongShownGood, t.unit);
        };
        row("text", text_);
        row("polling", poll_);
#ifdef RAVA2_SOAK_IMAGE
        row("image", image_);
#else
        std::printf("image    (image transfer is not built in)\n");
#endif
        std::printf("resident memory: %.1f MB at the start, %.1f MB after the first round, "
                    "%.1f MB at the end\n",
                    rssStart_, rssFirstRound_, residentMb());
        std::printf("hang: %s\n", hung_ ? "yes" : "no");
        std::printf("(damaged: arrived, but not as sent; unflagged: of those, shown with no "
                    "sign of trouble -- a text line, a reply on green, an image passed as "
                    "complete. The modules throw away packets the radio damaged, so both "
                    "should stay 0: loss shows as missing lines, replies or a failed image)\n");
        if (hung_)
            return 3;
        return text_.wrongShownGood + poll_.wrongShownGood + image_.wrongShownGood > 0 ? 5 : 0;
    }

private:
    static constexpr int kWatchdogMs = 120000;
#ifdef RAVA2_SOAK_IMAGE
    static constexpr int kSteps = 5;
#else
    static constexpr int kSteps = 3;
#endif

    void nextPhase() {
        watchdog_.stop();
        if (round_ == 1 && step_ == 0)
            rssFirstRound_ = residentMb();
        if (clock_.elapsed() >= durationMs_ && step_ == 0) {
            QCoreApplication::exit(0);
            return;
        }
        const int step = step_;
        step_ = (step_ + 1) % kSteps;
        if (step_ == 0)
            ++round_;
        watchdog_.start(kWatchdogMs);
        switch (step) {
        case 0:
            phase_ = "text M to S1";
            textTransfer(*m_, *s1_);
            break;
        case 1:
            phase_ = "text S2 to M";
            textTransfer(*s2_, *m_);
            break;
        case 2:
            phase_ = "polling";
            pollingCycle();
            break;
#ifdef RAVA2_SOAK_IMAGE
        case 3:
            phase_ = "image M to S2";
            imageTransfer(*m_, *s2_);
            break;
        case 4:
            phase_ = "image S1 to M";
            imageTransfer(*s1_, *m_);
            break;
#endif
        }
    }

    // Posted, so that a phase never starts inside the handler that ended the
    // one before.
    void later(std::function<void()> f) {
        QTimer::singleShot(0, this, std::move(f));
    }

    // --- Text -----------------------------------------------------------
    QByteArray randomLine(int transfer, int index) {
        QByteArray line =
            "T" + QByteArray::number(transfer) + "-L" + QByteArray::number(index) + ":";
        const int n = int(rng_.bounded(80));
        for (int i = 0; i < n; ++i)
            line.append(char(0x20 + rng_.bounded(0x5F))); // printable ASCII
        return line;
    }

    void textTransfer(Station& from, Station& to) {
        ++text_.transfers;
        const int transfer = int(text_.transfers);
        QList<QByteArray> lines;
        QByteArray file;
        const int count = 10 + int(rng_.bounded(20));
        for (int i = 0; i < count; ++i) {
            lines.append(randomLine(transfer, i));
            file += lines.last() + "\r\n";
        }
        const QString path = QDir(work_.path()).filePath(QStringLiteral("lines.txt"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            QCoreApplication::exit(4);
            return;
        }
        f.close();
        if (from.settings.isMaster())
            from.settings.setRemoteAddress(to.address);

        auto got = std::make_shared<QList<QPair<int, QByteArray>>>();
        auto conns = std::make_shared<QList<QMetaObject::Connection>>();
        auto finish = [this, &from, &to, lines, got, conns] {
            for (const auto& c : *conns)
                disconnect(c);
            if (to.textReceiver->isBusy())
                to.textReceiver->stop(); // nothing came: the receiver waits forever
            const int sender = to.settings.isMaster() ? from.address : 0;
            QList<QByteArray> expected;
            for (const QByteArray& l : lines)
                expected.append(l + '\r');
            qint64 intact = 0;
            for (const auto& [who, line] : *got) {
                const qsizetype at = expected.indexOf(line);
                if (who == sender && at >= 0) {
                    ++intact;
                    expected.removeAt(at);
                }
            }
            text_.sent += lines.size();
            text_.intact += intact;
            text_.damaged += got->size() - intact;
            // A text line carries no check: a changed line is shown like any other.
            text_.wrongShownGood += got->size() - intact;
            text_.missing += qMax<qint64>(0, lines.size() - got->size());
            later([this] { nextPhase(); });
        };
        *conns << connect(to.textReceiver.get(), &text::TextReceiver::lineReceived, this,
                          [got](const QByteArray& line, int who) {
                              got->append({who, line});
                          });
        *conns << connect(to.textReceiver.get(), &text::TextReceiver::failed, this,
                          [this](text::ReceiveFailure, const QString& why) {
                              ++text_.failed;
                              std::fprintf(stderr, "text reception failed: %s\n", qPrintable(why));
                          });
        *conns << connect(from.textSender.get(), &text::TextSender::failed, this,
                          [this](text::SendFailure, const QString& why) {
                              ++text_.failed;
                              std::fprintf(stderr, "text send failed: %s\n", qPrintable(why));
                          });
        auto* done = new OneShot(QStringLiteral("soak text end"), 0, this);
        connect(done, &OneShot::fired, this, [finish, done] {
            done->deleteLater();
            finish();
        });
        *conns << connect(to.textReceiver.get(), &text::TextReceiver::busyChanged, this,
                          [done](bool busy) {
                              if (!busy) {
                                  done->setInterval(0);
                                  done->start();
                              }
                          });
        // The send ended: the reception ends by its idle timeout after the
        // last byte; if nothing at all arrived, it is stopped a little later.
        *conns << connect(from.textSender.get(), &text::TextSender::finished, this, [done] {
            done->setInterval(text::Timings().idleMs + 1500);
            done->start();
        });
        if (!to.textReceiver->receive() || !from.textSender->send(path)) {
            to.textReceiver->stop();
            done->setInterval(0);
            done->start();
        }
    }

    // --- Polling ----------------------------------------------------------
    void pollingCycle() {
        static constexpr int kQueries = 6;
        static constexpr int kPauseMs = 1500;
        auto table = std::make_shared<polling::PollTable>();
        table->setAddress(1, 1);
        table->setCommand(1, QStringLiteral("PING"));
        table->setAddress(2, 2);
        table->setCommand(2, QStringLiteral("BAD"));
        table->setEnabled(1, true);
        table->setEnabled(2, true);
        answer1_ = {QStringLiteral("PING"), QStringLiteral("PONG1")};
        answer2_ = {QStringLiteral("PING"), QStringLiteral("PONG2")};
        polling::Timings timings;
        timings.pauseMs = kPauseMs;
        auto slave1 = std::make_shared<polling::SlaveResponder>(*s1_->collector, answer1_, timings);
        auto slave2 = std::make_shared<polling::SlaveResponder>(*s2_->collector, answer2_, timings);
        auto master = std::make_shared<polling::MasterPoller>(*m_->collector, *table, timings);
        // Per row: the reply the last query should bring, and whether it came.
        auto expected = std::make_shared<QHash<int, QByteArray>>();
        auto answered = std::make_shared<QHash<int, bool>>();
        auto queries = std::make_shared<int>(0);

        auto settle = [this, expected, answered] {
            for (auto it = expected->begin(); it != expected->end(); ++it)
                if (!answered->value(it.key()))
                    ++poll_.missing;
            expected->clear();
            answered->clear();
        };
        for (auto* s : {slave1.get(), slave2.get()})
            connect(s, &polling::SlaveResponder::failed, this, [this](auto, const QString& why) {
                ++poll_.failed;
                std::fprintf(stderr, "slave failed: %s\n", qPrintable(why));
            });
        connect(master.get(), &polling::MasterPoller::failed, this,
                [this](auto, const QString& why) {
                    ++poll_.failed;
                    std::fprintf(stderr, "polling failed: %s\n", qPrintable(why));
                });
        auto* end = new OneShot(QStringLiteral("soak polling end"), kPauseMs, this);
        connect(master.get(), &polling::MasterPoller::queried, this,
                [this, expected, answered, queries, end](int row, const QByteArray&) {
                    // The previous query of this row is settled when its turn
                    // comes again.
                    if (expected->contains(row) && !answered->value(row))
                        ++poll_.missing;
                    (*expected)[row] =
                        row == 1 ? QByteArray("\x01PONG1") : QByteArray("\x02\x0F", 2);
                    (*answered)[row] = false;
                    ++poll_.sent;
                    ++poll_.transfers;
                    if (++*queries == kQueries)
                        end->start(); // the last query gets its pause, then End
                });
        connect(master.get(), &polling::MasterPoller::outcome, this,
                [this, expected, answered](const polling::MasterOutcome& outcome) {
                    // Rows 1 and 2 have addresses 1 and 2: the message is the
                    // row's address byte and what the outcome says came.
                    int row = 0;
                    QByteArray message;
                    bool green = false;
                    if (const auto* ok = std::get_if<polling::ReplyOk>(&outcome)) {
                        row = ok->row;
                        message = char(row) + ok->text.toLatin1();
                        green = true;
                    } else if (const auto* wrong = std::get_if<polling::WrongCommand>(&outcome)) {
                        row = wrong->row;
                        message = QByteArray(1, char(row)) + polling::kNotRecognised;
                    } else if (const auto* stray = std::get_if<polling::UnknownSender>(&outcome)) {
                        ++poll_.damaged;
                        if (stray->address >= 1 && stray->address <= 2)
                            (*answered)[stray->address] = true; // it came, changed
                        return;
                    } else {
                        return;
                    }
                    if (expected->contains(row) && !answered->value(row) &&
                        message == expected->value(row)) {
                        ++poll_.intact;
                        (*answered)[row] = true;
                    } else {
                        ++poll_.damaged;
                        // A changed reply on green passes for a proper one.
                        if (green)
                            ++poll_.wrongShownGood;
                        (*answered)[row] = true; // it came, changed
                    }
                });
        connect(end, &OneShot::fired, this, [this, master, slave1, slave2, table, settle, end] {
            end->deleteLater();
            master->end();
            slave1->stopListening();
            slave2->stopListening();
            settle();
            // Keep the objects alive until the handlers have returned.
            later([this, master, slave1, slave2, table] { nextPhase(); });
        });
        if (!slave1->listen() || !slave2->listen() || !master->start()) {
            ++poll_.failed;
            end->setInterval(0);
            end->start();
        }
    }

#ifdef RAVA2_SOAK_IMAGE
    // --- Image ------------------------------------------------------------
    // A small bitmap of random pixels: a few blocks, so that some survive a
    // link that loses one packet in ten.
    QByteArray randomPicture(const QString& path) {
        QImage image(4 + int(rng_.bounded(20)), 4 + int(rng_.bounded(12)), QImage::Format_RGB888);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, rng_.generate() & 0xFFFFFF);
        image.save(path, "BMP");
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    void imageTransfer(Station& from, Station& to) {
        ++image_.transfers;
        ++image_.sent;
        const QString path = QDir(work_.path()).filePath(QStringLiteral("picture.bmp"));
        const QByteArray picture = randomPicture(path);
        if (from.settings.isMaster())
            from.settings.setRemoteAddress(to.address);
        auto conns = std::make_shared<QList<QMetaObject::Connection>>();
        auto outcome = std::make_shared<std::optional<image::Reception>>();
        auto* stuck = new OneShot(QStringLiteral("soak image end"), 0, this);
        // Over once both ends are: the receiver may end early on a header
        // it cannot read while the sender goes on.
        auto over = std::make_shared<bool>(false);
        auto maybeDone = [this, &from, &to, conns, outcome, stuck, picture, over](bool force) {
            if (*over || from.imageSender->isBusy() || (to.imageReceiver->isBusy() && !force))
                return;
            *over = true;
            if (to.imageReceiver->isBusy())
                to.imageReceiver->stop(); // nothing usable came: it would wait for ever
            for (const auto& c : *conns)
                disconnect(c);
            stuck->stop();
            stuck->deleteLater();
            if (!outcome->has_value()) {
                ++image_.missing;
            } else {
                const image::Reception& r = **outcome;
                if (r.verdict != image::Verdict::Complete) {
                    ++image_.failed; // "Sorry, bad transmission" or "Check the settings!"
                } else {
                    QFile f(r.candidate);
                    const QByteArray got = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                    QImage shown;
                    if (!shown.loadFromData(got)) {
                        ++image_.failed; // the page says the transmission was bad
                        if (got != picture)
                            ++image_.damaged;
                    } else if (got == picture) {
                        ++image_.intact;
                    } else {
                        ++image_.damaged;
                        ++image_.wrongShownGood; // shown with its statistics as a good image
                    }
                }
            }
            later([this] { nextPhase(); });
        };
        connect(stuck, &OneShot::fired, this, [maybeDone] { maybeDone(true); });
        *conns << connect(to.imageReceiver.get(), &image::ImageReceiver::finished, this,
                          [outcome, maybeDone](const image::Reception& r) {
                              *outcome = r;
                              maybeDone(false);
                          });
        *conns << connect(to.imageReceiver.get(), &image::ImageReceiver::failed, this,
                          [this, maybeDone](image::ReceiveFailure, const QString& why) {
                              ++image_.failed;
                              std::fprintf(stderr, "image reception failed: %s\n", qPrintable(why));
                              maybeDone(true);
                          });
        *conns << connect(from.imageSender.get(), &image::ImageSender::failed, this,
                          [this](image::SendFailure, const QString& why) {
                              ++image_.failed;
                              std::fprintf(stderr, "image send failed: %s\n", qPrintable(why));
                          });
        *conns << connect(from.imageSender.get(), &image::ImageSender::finished, this,
                          [stuck, maybeDone](bool) {
                              stuck->setInterval(image::Timings().endOfReceptionMs + 2500);
                              stuck->start();
                              maybeDone(false);
                          });
        if (!to.imageReceiver->receive() || !from.imageSender->send(path))
            maybeDone(true);
    }
#endif

    QRandomGenerator rng_;
    qint64 durationMs_;
    QTemporaryDir work_;
    std::unique_ptr<Station> m_, s1_, s2_;
    polling::SlaveAnswer answer1_, answer2_;
    QElapsedTimer clock_;
    QTimer watchdog_;
    std::string phase_;
    int step_ = 0;
    int round_ = 0;
    bool hung_ = false;
    double rssStart_ = 0;
    double rssFirstRound_ = 0;
    Tally text_, poll_, image_;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double minutes = 10;
    quint32 seed = 1;
    QString sim =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("rava2-sim"));
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--minutes"))
            minutes = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--seed"))
            seed = args[i + 1].toUInt();
        else if (args[i] == QLatin1String("--sim"))
            sim = args[i + 1];
    }

    QTemporaryDir links;
    QTemporaryDir temp; // the receivers' private temporary folder
    qputenv("RAVA2_TEMP_DIR", QFile::encodeName(temp.path()));
    QProcess simulator;
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(sim, {"--dir", links.path(), "--loss", "0.1", "--corrupt", "0.01", "--seed",
                          QString::number(seed), "M=master:0", "S1=slave:1", "S2=slave:2"});
    QElapsedTimer wait;
    wait.start();
    bool ready = false;
    while (!ready && wait.elapsed() < 10000 && simulator.waitForReadyRead(1000))
        while (simulator.canReadLine())
            ready = ready || simulator.readLine().trimmed() == "ready";
    if (!ready) {
        std::fprintf(stderr, "the simulator %s did not start\n", qPrintable(sim));
        return 2;
    }
    // Its stdout keeps flowing (trace lines are off); drain it anyway.
    QObject::connect(&simulator, &QProcess::readyReadStandardOutput, &simulator,
                     [&] { simulator.readAllStandardOutput(); });

    int rc = 0;
    {
        Soak soak(links.path(), qint64(minutes * 60000), seed);
        QTimer::singleShot(0, &soak, [&] { soak.start(); });
        rc = app.exec();
        const int table = soak.report();
        rc = rc ? rc : table;
    }
    simulator.terminate();
    simulator.waitForFinished(5000);
    return rc;
}
