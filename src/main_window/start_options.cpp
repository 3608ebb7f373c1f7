#include "start_options.h"

#include "link/device_map.h"
#include "link/line_settings.h"

#include <QRegularExpression>

namespace rava {

namespace {

// The list's texts, quoted; `perLine` of them to a line of `indent`.
QString acceptedLines(int perLine = 0, const QString& indent = QString()) {
    QString all;
    for (size_t i = 0; i < kLineSettings.size(); ++i) {
        if (i > 0)
            all += (perLine > 0 && i % size_t(perLine) == 0) ? QStringLiteral(",\n") + indent
                                                             : QStringLiteral(", ");
        all += QStringLiteral("\"%1\"").arg(QLatin1String(kLineSettings[i].shown));
    }
    return all;
}

// A line setting as the list shows it; a full stop in place of the first
// comma (as two entries of the list have it) or a comma in place of it both
// name the same entry.
std::optional<int> lineSettingIndex(const QString& text) {
    QString wanted = text.trimmed();
    wanted.replace(QLatin1Char('.'), QLatin1Char(','));
    for (size_t i = 0; i < kLineSettings.size(); ++i) {
        QString shown = QString::fromLatin1(kLineSettings[i].shown);
        shown.replace(QLatin1Char('.'), QLatin1Char(','));
        if (shown.compare(wanted, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return std::nullopt;
}

// Qt's own options (-platform offscreen, -style fusion, ...), left to Qt.
bool isQtOption(const QString& name, bool* takesValue) {
    static const QStringList withValue = {QStringLiteral("-platform"),
                                          QStringLiteral("-platformpluginpath"),
                                          QStringLiteral("-platformtheme"),
                                          QStringLiteral("-plugin"),
                                          QStringLiteral("-qwindowgeometry"),
                                          QStringLiteral("-geometry"),
                                          QStringLiteral("-qwindowtitle"),
                                          QStringLiteral("-title"),
                                          QStringLiteral("-qwindowicon"),
                                          QStringLiteral("-style"),
                                          QStringLiteral("-stylesheet"),
                                          QStringLiteral("-display"),
                                          QStringLiteral("-name"),
                                          QStringLiteral("-session")};
    static const QStringList plain = {QStringLiteral("-reverse"), QStringLiteral("-widgetcount"),
                                      QStringLiteral("-nograb"), QStringLiteral("-dograb"),
                                      QStringLiteral("-sync")};
    *takesValue = withValue.contains(name);
    return *takesValue || plain.contains(name);
}

std::optional<int> wholeNumber(const QString& text, int low, int high) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

StartOptions parseStartOptions(const QStringList& arguments) {
    StartOptions o;
    auto refuse = [&o](const QString& why) {
        if (o.error.isEmpty())
            o.error = why;
    };
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        bool qtValue = false;
        if (isQtOption(name, &qtValue)) {
            i += qtValue ? 1 : 0;
            continue;
        }
        const bool takesValue = name.startsWith(QLatin1String("--port")) ||
                                name.startsWith(QLatin1String("--line")) ||
                                name.startsWith(QLatin1String("--remote")) ||
                                name.startsWith(QLatin1String("--device"));
        if (takesValue) {
            const int eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                refuse(QStringLiteral("%1 needs a value.").arg(name));
                break;
            }
        }
        if (name == QLatin1String("--port")) {
            o.port = wholeNumber(value, 1, 4);
            if (!o.port)
                refuse(QStringLiteral("--port %1: the port is 1, 2, 3 or 4.").arg(value));
        } else if (name == QLatin1String("--line")) {
            o.lineSetting = lineSettingIndex(value);
            if (!o.lineSetting)
                refuse(QStringLiteral("--line %1: the line setting is one of %2.")
                           .arg(value, acceptedLines()));
        } else if (name == QLatin1String("--remote")) {
            o.remoteAddress = wholeNumber(value, 0, 255);
            if (!o.remoteAddress)
                refuse(QStringLiteral("--remote %1: the remote address is a whole number from "
                                      "0 to 255.")
                           .arg(value));
        } else if (name == QLatin1String("--device")) {
            static const QRegularExpression entry(QStringLiteral("^COM ?([1-4])=(.+)$"),
                                                  QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch m = entry.match(value);
            if (m.hasMatch() && !m.captured(2).trimmed().isEmpty())
                o.devices.insert(m.captured(1).toInt(), m.captured(2).trimmed());
            else
                refuse(QStringLiteral("--device %1: give the entry COM1 to COM4, \"=\" and the "
                                      "device's path, as in --device COM1=/dev/ttyUSB0.")
                           .arg(value));
        } else if (name == QLatin1String("--slave")) {
            o.slave = true;
        } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            o.help = true;
        } else if (name == QLatin1String("--version") || name == QLatin1String("-v")) {
            o.version = true;
        } else if (name == QLatin1String("--guide")) {
            o.guide = true;
        } else {
            refuse(QStringLiteral("%1: unknown option; the options are --port, --line, --slave, "
                                  "--remote, --device, --guide, --help and --version.")
                       .arg(name));
        }
    }
    if (o.slave && o.remoteAddress)
        refuse(QStringLiteral("--remote applies to a master station, not with --slave."));
    return o;
}

QString startOptionsHelp() {
    return QStringLiteral(
               "Usage: rava2-demo [options]\n"
               "Demonstrates and tests Rava 2 radio serial modules.\n\n"
               "  --port N       use \"COM N\" (1 to 4)\n"
               "  --line TEXT    line setting as the list shows it, one of:\n"
               "                 %1\n"
               "  --slave        start in slave mode (master is the default)\n"
               "  --remote N     remote address of a master, 0 to 255 (default 0)\n"
               "  --device COMn=PATH\n"
               "                 use PATH as the device of \"COM n\" for this start only\n"
               "                 (repeatable, one per entry)\n"
               "  --guide        print the user guide of the Help tab\n"
               "  --help         show this text\n"
               "  --version      show the version\n\n"
               "The device behind \"COM n\" is, the first that applies: $RAVA2_COMn when set,\n"
               "--device, the device chosen in the window (right-click on the port list, or\n"
               "Ctrl+D there; remembered for the user), else %2 ... %3 in order.\n")
        .arg(acceptedLines(3, QString(17, QLatin1Char(' '))), defaultDevice(1), defaultDevice(4));
}

} // namespace rava
