#include "mode_rules.h"

namespace rava {

namespace {

void addRow(std::vector<EnablingStep>& steps, EnablingStep::Action action, const char* array) {
    for (int i = 1; i <= 5; ++i)
        steps.push_back({action, QStringLiteral("%1_%2").arg(QLatin1String(array)).arg(i)});
}

std::vector<EnablingStep> buildMaster() {
    using S = EnablingStep;
    std::vector<S> s;
    s.push_back({S::Enable, QStringLiteral("Label7")});
    s.push_back({S::Enable, QStringLiteral("Text12")});
    for (const char* name : {"Text24", "Text25", "Label22", "Label23", "Label24", "Frame10"})
        s.push_back({S::Disable, QLatin1String(name)});
    addRow(s, S::Enable, "Check1");
    for (const char* name : {"Frame9", "Label3", "Label20", "Label21"})
        s.push_back({S::Enable, QLatin1String(name)});
    addRow(s, S::Enable, "Text4");
    addRow(s, S::Enable, "Text14");
    addRow(s, S::Enable, "Text19");
    s.push_back({S::Enable, QStringLiteral("Command15")});
    s.push_back({S::Enable, QStringLiteral("Command20")});
    return s;
}

std::vector<EnablingStep> buildSlave() {
    using S = EnablingStep;
    std::vector<S> s;
    s.push_back({S::Disable, QStringLiteral("Label7")});
    // Emptying the box runs its change handler: the remote address becomes 0.
    s.push_back({S::Empty, QStringLiteral("Text12")});
    s.push_back({S::Disable, QStringLiteral("Text12")});
    for (const char* name : {"Text24", "Text25", "Label22", "Label23", "Label24", "Frame10"})
        s.push_back({S::Enable, QLatin1String(name)});
    addRow(s, S::Disable, "Check1");
    for (const char* name : {"Frame9", "Label3", "Label20", "Label21"})
        s.push_back({S::Disable, QLatin1String(name)});
    addRow(s, S::Disable, "Text4");
    addRow(s, S::Disable, "Text14");
    addRow(s, S::Disable, "Text19");
    s.push_back({S::Disable, QStringLiteral("Command15")});
    s.push_back({S::Disable, QStringLiteral("Command20")});
    return s;
}

} // namespace

const std::vector<EnablingStep>& masterEnabling() {
    static const std::vector<EnablingStep> steps = buildMaster();
    return steps;
}

const std::vector<EnablingStep>& slaveEnabling() {
    static const std::vector<EnablingStep> steps = buildSlave();
    return steps;
}

} // namespace rava
