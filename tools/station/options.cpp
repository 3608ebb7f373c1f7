#include "options.h"

#include "link/line_settings.h"
#include "numbers/number_rule.h"

#include <QHash>
#include <QSet>
#include <cmath>

namespace rava::station {

namespace {

struct Verb {
    const char* name;
    int minArgs;
    int maxArgs;
    QSet<QString> options; // options of its own, beyond the common ones
};

const QList<Verb>& verbs() {
    static const QList<Verb> v = {
        {"send-text", 1, 1, {}},
        {"receive-text", 0, 0, {"--idle-ms", "--out"}},
        {"send-image", 1, 1, {}},
        {"receive-image", 0, 0, {"--out"}},
        {"poll", 0, 0, {"--row", "--cycles", "--duration", "--pause-ms"}},
        {"respond", 0, 0, {"--command", "--reply", "--duration"}},
        {"read-reg", 1, 1, {}},
        {"write-reg", 2, 2, {}},
        {"linktest", 0, 0, {"--count", "--size", "--interval", "--timeout"}},
        {"echo", 0, 0, {"--duration"}},
    };
    return v;
}

const Verb* findVerb(const QString& name) {
    for (const Verb& v : verbs())
        if (name == QLatin1String(v.name))
            return &v;
    return nullptr;
}

const QSet<QString> kFlags = {"--slave", "--json", "--quiet", "--help", "--version"};
const QSet<QString> kCommon = {"--port", "--com", "--line", "--remote"};

QString lineChoices() {
    QStringList shown;
    for (const LineSetting& s : kLineSettings)
        shown << QStringLiteral("\"%1\"").arg(QLatin1String(s.shown));
    return shown.join(QStringLiteral(", "));
}

// The index of a line setting given as the window's list shows it, or as
// its settings string ("115200,n,8,1"); -1 when it is neither.
int lineIndex(const QString& text) {
    const QString t = text.trimmed();
    for (size_t i = 0; i < kLineSettings.size(); ++i)
        if (t == QLatin1String(kLineSettings[i].shown) ||
            t.compare(settingsText(kLineSettings[i].params), Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

bool wholeNumber(const QString& text, int min, int max, int* out) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

int byteValue(const QString& text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return -1;
    const double r = roundHalfEven(v);
    return r < 0 || r > 255 ? -1 : int(r);
}

Options parseOptions(const QStringList& arguments) {
    Options o;
    QList<QPair<QString, QString>> given; // options with their values, in order
    QStringList words;                    // everything that is no option
    for (int i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        if (!arg.startsWith(QLatin1String("--")) || arg == QLatin1String("--")) {
            if (arg == QLatin1String("--")) {
                words += arguments.mid(i + 1);
                break;
            }
            words << arg;
            continue;
        }
        QString value;
        bool hasValue = false;
        const int eq = arg.indexOf(QLatin1Char('='));
        if (eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasValue = true;
        }
        if (kFlags.contains(arg)) {
            if (hasValue) {
                o.error = QStringLiteral("%1 takes no value").arg(arg);
                return o;
            }
            given.append({arg, QString()});
            continue;
        }
        bool known = kCommon.contains(arg);
        for (const Verb& v : verbs())
            known = known || v.options.contains(arg);
        if (!known) {
            o.error = QStringLiteral("unknown option %1").arg(arg);
            return o;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                o.error = QStringLiteral("%1 needs a value").arg(arg);
                return o;
            }
            value = arguments[++i];
        }
        given.append({arg, value});
    }

    for (const auto& g : given) {
        if (g.first == QLatin1String("--help"))
            o.help = true;
        else if (g.first == QLatin1String("--version"))
            o.version = true;
    }
    if (!words.isEmpty() && words.first() == QLatin1String("help"))
        o.help = true;
    if (o.help || o.version)
        return o;

    if (words.isEmpty()) {
        o.error = QStringLiteral("no subcommand given");
        return o;
    }
    o.verb = words.takeFirst();
    const Verb* verb = findVerb(o.verb);
    if (!verb) {
        QStringList names;
        for (const Verb& v : verbs())
            names << QLatin1String(v.name);
        o.error = QStringLiteral("unknown subcommand %1; one of: %2")
                      .arg(o.verb, names.join(QStringLiteral(", ")));
        return o;
    }
    o.arguments = words;
    if (words.size() < verb->minArgs || words.size() > verb->maxArgs) {
        static const QHash<QString, QString> usage = {
            {"send-text", "send-text FILE"},
            {"send-image", "send-image FILE"},
            {"read-reg", "read-reg address|parity"},
            {"write-reg", "write-reg address|parity VALUE"},
        };
        o.error = usage.contains(o.verb) ? QStringLiteral("usage: %1").arg(usage.value(o.verb))
                                         : QStringLiteral("%1 takes no argument (%2 given)")
                                               .arg(o.verb, words.join(QLatin1Char(' ')));
        return o;
    }

    const auto bad = [&o](const QString& option, const QString& value, const QString& fits) {
        o.error = QStringLiteral("%1 %2: %3").arg(option, value, fits);
        return o;
    };
    bool durationGiven = false;
    for (const auto& [name, value] : given) {
        if (!kFlags.contains(name) && !kCommon.contains(name) && !verb->options.contains(name)) {
            o.error = QStringLiteral("%1 does not apply to %2").arg(name, o.verb);
            return o;
        }
        if (name == QLatin1String("--slave")) {
            o.slave = true;
        } else if (name == QLatin1String("--json")) {
            o.json = true;
        } else if (name == QLatin1String("--quiet")) {
            o.quiet = true;
        } else if (name == QLatin1String("--port")) {
            if (value.isEmpty())
                return bad(name, value, QStringLiteral("a device path"));
            o.port = value;
        } else if (name == QLatin1String("--com")) {
            if (!wholeNumber(value, 1, 4, &o.com))
                return bad(name, value, QStringLiteral("1, 2, 3 or 4"));
        } else if (name == QLatin1String("--line")) {
            o.lineSetting = lineIndex(value);
            if (o.lineSetting < 0)
                return bad(name, value, QStringLiteral("one of ") + lineChoices());
        } else if (name == QLatin1String("--remote")) {
            o.remote = byteValue(value);
            if (o.remote < 0)
                return bad(name, value, QStringLiteral("an address from 0 to 255"));
        } else if (name == QLatin1String("--idle-ms")) {
            if (!wholeNumber(value, 1, 3600000, &o.idleMs))
                return bad(name, value, QStringLiteral("milliseconds from 1 to 3600000"));
        } else if (name == QLatin1String("--out")) {
            if (value.isEmpty())
                return bad(name, value, QStringLiteral("a file name"));
            o.out = value;
        } else if (name == QLatin1String("--row")) {
            const int colon = value.indexOf(QLatin1Char(':'));
            const int address = colon < 0 ? -1 : byteValue(value.left(colon));
            if (address < 0)
                return bad(name, value,
                           QStringLiteral("ADDRESS:COMMAND, an address from 0 to 255"));
            if (o.rows.size() == 5)
                return bad(name, value, QStringLiteral("at most 5 rows, as the poll table has"));
            o.rows.append({address, value.mid(colon + 1)});
        } else if (name == QLatin1String("--cycles")) {
            if (!wholeNumber(value, 1, 1000000, &o.cycles))
                return bad(name, value, QStringLiteral("a whole number from 1 to 1000000"));
        } else if (name == QLatin1String("--duration")) {
            bool ok = false;
            o.duration = value.toDouble(&ok);
            if (!ok || !(o.duration > 0) || o.duration > 1e6)
                return bad(name, value, QStringLiteral("seconds above 0"));
            durationGiven = true;
        } else if (name == QLatin1String("--pause-ms")) {
            if (!wholeNumber(value, 1, 3600000, &o.pauseMs))
                return bad(name, value, QStringLiteral("milliseconds from 1 to 3600000"));
        } else if (name == QLatin1String("--command")) {
            o.command = value;
        } else if (name == QLatin1String("--reply")) {
            o.reply = value;
        } else if (name == QLatin1String("--count")) {
            if (!wholeNumber(value, 1, 10000000, &o.count))
                return bad(name, value, QStringLiteral("a whole number from 1 to 10000000"));
        } else if (name == QLatin1String("--size")) {
            if (!wholeNumber(value, 16, 4096, &o.size))
                return bad(name, value, QStringLiteral("bytes from 16 to 4096"));
        } else if (name == QLatin1String("--interval")) {
            if (!wholeNumber(value, 0, 3600000, &o.intervalMs))
                return bad(name, value, QStringLiteral("milliseconds from 0 to 3600000"));
        } else if (name == QLatin1String("--timeout")) {
            if (!wholeNumber(value, 1, 3600000, &o.timeoutMs))
                return bad(name, value, QStringLiteral("milliseconds from 1 to 3600000"));
        }
    }
    if (!o.port.isEmpty() && o.com != 0) {
        o.error = QStringLiteral("--port and --com name the same thing: give one");
        return o;
    }
    if (o.verb == QLatin1String("poll")) {
        if (o.rows.isEmpty()) {
            o.error = QStringLiteral("poll needs at least one --row ADDRESS:COMMAND");
            return o;
        }
        if (o.cycles > 0 && durationGiven) {
            o.error = QStringLiteral("poll takes --cycles or --duration, not both");
            return o;
        }
    }
    if (o.verb == QLatin1String("respond") && o.command.isEmpty()) {
        o.error = QStringLiteral("respond needs --command C (and --reply R)");
        return o;
    }
    if (o.verb == QLatin1String("receive-image") && o.out.isEmpty()) {
        o.error = QStringLiteral("receive-image needs --out FILE");
        return o;
    }
    if (o.verb == QLatin1String("read-reg") || o.verb == QLatin1String("write-reg")) {
        const QString reg = o.arguments.first();
        if (reg != QLatin1String("address") && reg != QLatin1String("parity")) {
            o.error = QStringLiteral("%1 %2: address or parity").arg(o.verb, reg);
            return o;
        }
        if (o.verb == QLatin1String("write-reg")) {
            const QString value = o.arguments.at(1);
            const int v = byteValue(value);
            if (v < 0) {
                o.error = QStringLiteral("write-reg %1 %2: a value from 0 to 255").arg(reg, value);
                return o;
            }
            if (reg == QLatin1String("parity") && v != 0 && v != 1 && v != 3) {
                o.error =
                    QStringLiteral("write-reg parity %1: 0 (none), 1 (odd) or 3 (even)").arg(value);
                return o;
            }
        }
    }
    return o;
}

QString helpText() {
    return QStringLiteral(
        "usage: rava2-station [options] SUBCOMMAND [arguments]\n"
        "The features of the Rava 2 Demo window without a window: the same bytes on the\n"
        "wire, the same waits, the same messages.\n"
        "\n"
        "Subcommands:\n"
        "  send-text FILE          send a text file line by line\n"
        "  receive-text            receive text lines until the line is idle\n"
        "  send-image FILE         send a file as an image\n"
        "  receive-image           receive an image into --out FILE\n"
        "  poll                    the master's polling cycle over --row entries\n"
        "  respond                 the slave's polling responder\n"
        "  read-reg REG            read the module's address or parity register\n"
        "  write-reg REG VALUE     write it, then read it back\n"
        "  linktest                measure the link against an echo station\n"
        "  echo                    send every packet back (the far end of linktest)\n"
        "\n"
        "Options:\n"
        "  --port PATH             the module's device\n"
        "  --com N                 COM entry N (1-4) as the window maps it (default 1)\n"
        "  --line SETTING          line setting as the window lists it\n"
        "                          (default \"115200,none,8,1\")\n"
        "  --slave                 work as a slave (default: master)\n"
        "  --remote N              remote address, 0-255 (default 0)\n"
        "  --json                  one JSON object on standard output\n"
        "  --quiet                 no summary, no progress line\n"
        "  --idle-ms MS            receive-text: silence that ends it (default 1500)\n"
        "  --out FILE              receive-text, receive-image: where it goes\n"
        "  --row ADDRESS:COMMAND   poll: a row of the poll table (up to 5)\n"
        "  --cycles N              poll: cycles through the rows, then end\n"
        "  --duration S            poll, respond, echo: end after S seconds\n"
        "  --pause-ms MS           poll: pause after each query (default 5000)\n"
        "  --command C             respond: the command it recognises\n"
        "  --reply R               respond: the reply it sends for it\n"
        "  --count N               linktest: probes to send (default 100)\n"
        "  --size B                linktest: bytes per probe, 16-4096 (default 32)\n"
        "  --interval MS           linktest: send a probe every MS ms (default 0:\n"
        "                          each once the last is back or lost)\n"
        "  --timeout MS            linktest: a probe not back by then is lost\n"
        "                          (default 1000)\n"
        "  --help                  this text\n"
        "  --version               the version\n"
        "\n"
        "Exit status: 0 done, 1 the operation failed, 2 bad usage, 130 interrupted.\n");
}

} // namespace rava::station
