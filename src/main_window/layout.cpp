#include "layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

namespace rava::layout {

namespace {

constexpr Font kFrameFont{"Tahoma", 9.75, true, false};
constexpr Font kButtonFont{"Comic Sans MS", 9.75, false, false};
constexpr Font kRegisterButtonFont{"Tahoma", 9.75, false, false};
constexpr Font kInstructionFont{"Times New Roman", 11.25, false, true};
constexpr Font kTitleFont{"Monotype Corsiva", 36, false, true};
constexpr Font kBoxFont{"MS Sans Serif", 12, false, false};
constexpr Font kHeadingFont{"MS Sans Serif", 8.25, true, false};
constexpr Font kHelpFont{"Times New Roman", 11.25, false, false};
constexpr Font kDefault{};

constexpr unsigned kListBox = ReadOnly | MultiLine | HScroll | VScroll;
constexpr quint32 kHelpBack = 0x00C0C0C0u;

// clang-format off
const std::vector<Control> kRightColumn = {
    {"Image1",   Kind::Picture, nullptr, nullptr, 9000,  480,  2490, 720,  kDefault, Border},
    {"Label26",  Kind::Label,   nullptr, "Rava 2", 8880, 1920, 2535, 855,  kTitleFont, Centred, 0, kBackColour},
    {"Label1",   Kind::Label,   nullptr, "Demo",   8640, 2640, 3015, 855,  kTitleFont, Centred, 0, kBackColour, 0x00404040u},
    {"Label2",   Kind::Label,   nullptr, " 1.2",   8520, 3360, 3135, 975,  kTitleFont, Centred, 0, kBackColour, 0x00000000u},
    {"Image4",   Kind::Picture, nullptr, nullptr, 9000,  5160, 2490, 1545, kDefault, Border},
    {"Command2", Kind::Button,  nullptr, "Info...", 8880, 8040, 1215, 375, kButtonFont},
    {"Command1", Kind::Button,  nullptr, "Exit",   10440, 8040, 1215, 375, kButtonFont},
};

const std::vector<Control> kSetUp = {
    {"Frame1",    Kind::Frame,        nullptr,   "Port",                 840,  480,  3495, 1215, kFrameFont},
    {"Combo1",    Kind::DropDownList, "Frame1",  nullptr,                360,  480,  2055, 360},
    {"Frame2",    Kind::Frame,        nullptr,   "Port settings",        840,  1920, 6375, 1215, kFrameFont},
    {"Label4",    Kind::Label,        "Frame2",  "Baud Rate, Parity,",   360,  480,  3255, 255},
    {"Label5",    Kind::Label,        "Frame2",  "Data bit, Stop bit",   360,  720,  1575, 255},
    {"Combo2",    Kind::DropDownList, "Frame2",  nullptr,                2640, 520,  2175, 360},
    {"Frame12",   Kind::Frame,        nullptr,   "Register programming", 840,  3360, 6375, 2655, kFrameFont},
    {"Label18",   Kind::Label,        "Frame12", "Address (0-255)",      360,  540,  2055, 255},
    {"Text5",     Kind::TextBox,      "Frame12", nullptr,                2640, 480,  495,  330,  kDefault, 0, 3},
    {"Command16", Kind::Button,       "Frame12", "Read",                 3960, 480,  855,  375,  kRegisterButtonFont},
    {"Command17", Kind::Button,       "Frame12", "Write",                5160, 480,  855,  375,  kRegisterButtonFont},
    {"Label19",   Kind::Label,        "Frame12", "Parity ",              360,  1080, 615,  255},
    {"Label16",   Kind::Label,        "Frame12", "(0-none 1-odd 3-even) ", 360, 1320, 2055, 255},
    {"Text7",     Kind::TextBox,      "Frame12", nullptr,                2640, 1200, 495,  360,  kDefault, 0, 1},
    {"Command18", Kind::Button,       "Frame12", "Read",                 3960, 1200, 855,  375,  kRegisterButtonFont},
    {"Command19", Kind::Button,       "Frame12", "Write",                5160, 1200, 855,  375,  kRegisterButtonFont},
    {"Label17",   Kind::Label,        "Frame12", nullptr,                360,  2040, 5655, 375,  kDefault, Border},
    {"Frame13",   Kind::Frame,        nullptr,   "Master/Slave settings", 840, 6240, 6375, 1695, kFrameFont},
    {"Option1",   Kind::Option,       "Frame13", "Master",               360,  480,  975,  255,  kDefault, Selected},
    {"Option2",   Kind::Option,       "Frame13", "Slave",                1560, 480,  855,  255},
    {"Label7",    Kind::Label,        "Frame13", "Remote address",       840,  1020, 1695, 255},
    {"Text12",    Kind::TextBox,      "Frame13", nullptr,                2640, 960,  495,  360,  kDefault, 0, 3},
};

const std::vector<Control> kSendText = {
    {"Frame4",   Kind::Frame,   nullptr,  nullptr, 240, 600, 5775, 1815},
    {"Label8",   Kind::Label,   "Frame4", "Press the Open button to select the file. You can view it in the "
                                          "window below. Press the Send button when you are ready  to transmit.",
                                                   240, 360, 4815, 735, kInstructionFont},
    {"Command3", Kind::Button,  nullptr,  "Open...", 6480, 840,  1335, 495, kButtonFont},
    {"Command4", Kind::Button,  nullptr,  "Send",    6480, 1800, 1335, 495, kButtonFont, Disabled},
    {"Frame3",   Kind::Frame,   nullptr,  "Text file", 240, 2880, 7815, 4455, kFrameFont},
    {"Text1",    Kind::TextBox, "Frame3", nullptr,   120,  360,  7575, 3975, kBoxFont, kListBox},
    {"Command9", Kind::Button,  nullptr,  "Clear",   3480, 7560, 1575, 375, kButtonFont},
};

const std::vector<Control> kReceiveText = {
    {"Frame6",    Kind::Frame,   nullptr,  nullptr, 240, 600, 5775, 1815},
    {"Label9",    Kind::Label,   "Frame6", "Press the Receive button when you are ready. You can view the "
                                           "received file in window below.",
                                                    240, 360, 5415, 615, kInstructionFont},
    {"Label6",    Kind::Label,   "Frame6", "File received from master/slave number", 240, 1200, 3615, 375},
    {"Text8",     Kind::TextBox, "Frame6", nullptr,   3960, 1150, 495,  360,  kDefault, ReadOnly},
    {"Command6",  Kind::Button,  nullptr,  "Receive", 6480, 840,  1335, 495,  kButtonFont},
    {"Command5",  Kind::Button,  nullptr,  "Break",   6480, 1800, 1335, 495,  kButtonFont, Disabled},
    {"Frame5",    Kind::Frame,   nullptr,  "Text file", 240, 2880, 7815, 4455, kFrameFont},
    {"Text2",     Kind::TextBox, "Frame5", nullptr,   120,  360,  7575, 3975, kBoxFont, kListBox},
    {"Command10", Kind::Button,  nullptr,  "Clear",   3480, 7560, 1575, 375,  kButtonFont},
};

const std::vector<Control> kSendImage = {
    {"Frame7",       Kind::Frame,       nullptr,  "Send image", 360, 720, 7680, 4695, kFrameFont},
    {"Label12",      Kind::Label,       "Frame7", "Press the Open button to select the image to transmit. You can "
                                                  "view it before sending. When you are ready, press the Send "
                                                  "image button.",
                                                        240,  480,  3015, 1455, kInstructionFont},
    {"Command7",     Kind::Button,      "Frame7", "Open...",    240,  2880, 1215, 495, kButtonFont},
    {"Command8",     Kind::Button,      "Frame7", "Send image", 1800, 2880, 1215, 495, kButtonFont, Disabled},
    {"Command11",    Kind::Button,      "Frame7", "Clear",      1080, 3720, 1215, 495, kButtonFont},
    {"Image2",       Kind::Picture,     "Frame7", nullptr,      3360, 360,  4095, 4095, kDefault, Border},
    {"ProgressBar1", Kind::ProgressBar, nullptr,  nullptr,      360,  5640, 7680, 255},
};

const std::vector<Control> kReceiveImage = {
    {"Frame8",       Kind::Frame,       nullptr,   "Receive image", 360, 720, 7680, 4695, kFrameFont},
    {"Label13",      Kind::Label,       "Frame8",  "Press the Receive button to download the image. You can view "
                                                   "it at the end of transmission.",
                                                         240,  480,  2895, 1095, kInstructionFont},
    {"Label10",      Kind::Label,       "Frame8",  "Received from", 240, 1920, 1335, 255},
    {"Text9",        Kind::TextBox,     "Frame8",  nullptr,   1680, 1840, 495,  360, kDefault, ReadOnly},
    {"Command12",    Kind::Button,      "Frame8",  "Receive", 240,  2880, 1215, 495, kButtonFont},
    {"Command13",    Kind::Button,      "Frame8",  "Break",   1800, 2880, 1215, 495, kButtonFont, Disabled},
    {"Command14",    Kind::Button,      "Frame8",  "Clear",   1080, 3720, 1215, 495, kButtonFont},
    {"Image3",       Kind::Picture,     "Frame8",  nullptr,   3360, 360,  4095, 4095, kDefault, Border},
    {"ProgressBar2", Kind::ProgressBar, nullptr,   nullptr,   360,  5640, 7680, 255},
    {"Frame11",      Kind::Frame,       nullptr,   "Statistics", 360, 6000, 7680, 1935, kFrameFont},
    {"Label15",      Kind::Label,       "Frame11", "Image Size:", 240, 480,  7095, 375},
    {"Label11",      Kind::Label,       "Frame11", "Time:",       240, 960,  6000, 375},
    {"Label14",      Kind::Label,       "Frame11", "Baud Rate:",  240, 1440, 6000, 375},
};

// Poll row i (1..5) lies 600 twips below row i - 1.
const std::vector<Control> kPolling = {
    {"Frame9",    Kind::Frame,    nullptr,  "Master",         360,  720, 7695, 4455, kFrameFont},
    {"Label3",    Kind::Label,    "Frame9", "Address",        1800, 360, 735,  255,  kHeadingFont},
    {"Label20",   Kind::Label,    "Frame9", "Master command", 2880, 360, 1455, 255,  kHeadingFont},
    {"Label21",   Kind::Label,    "Frame9", "Slave reply",    5280, 360, 1935, 255,  kHeadingFont},
    {"Check1_1",  Kind::CheckBox, "Frame9", "Slave 1",        360,  840,  975, 255},
    {"Check1_2",  Kind::CheckBox, "Frame9", "Slave 2",        360,  1440, 975, 255},
    {"Check1_3",  Kind::CheckBox, "Frame9", "Slave 3",        360,  2040, 975, 255},
    {"Check1_4",  Kind::CheckBox, "Frame9", "Slave 4",        360,  2640, 975, 255},
    {"Check1_5",  Kind::CheckBox, "Frame9", "Slave 5",        360,  3240, 975, 255},
    {"Text4_1",   Kind::TextBox,  "Frame9", nullptr,          1800, 770,  495, 360, kDefault, 0, 3},
    {"Text4_2",   Kind::TextBox,  "Frame9", nullptr,          1800, 1370, 495, 360, kDefault, 0, 3},
    {"Text4_3",   Kind::TextBox,  "Frame9", nullptr,          1800, 1970, 495, 360, kDefault, 0, 3},
    {"Text4_4",   Kind::TextBox,  "Frame9", nullptr,          1800, 2570, 495, 360, kDefault, 0, 3},
    {"Text4_5",   Kind::TextBox,  "Frame9", nullptr,          1800, 3170, 495, 360, kDefault, 0, 3},
    {"Text14_1",  Kind::TextBox,  "Frame9", nullptr,          2880, 770,  1935, 360},
    {"Text14_2",  Kind::TextBox,  "Frame9", nullptr,          2880, 1370, 1935, 360},
    {"Text14_3",  Kind::TextBox,  "Frame9", nullptr,          2880, 1970, 1935, 360},
    {"Text14_4",  Kind::TextBox,  "Frame9", nullptr,          2880, 2570, 1935, 360},
    {"Text14_5",  Kind::TextBox,  "Frame9", nullptr,          2880, 3170, 1935, 360},
    {"Text19_1",  Kind::TextBox,  "Frame9", nullptr,          5280, 770,  1935, 360, kDefault, ReadOnly},
    {"Text19_2",  Kind::TextBox,  "Frame9", nullptr,          5280, 1370, 1935, 360, kDefault, ReadOnly},
    {"Text19_3",  Kind::TextBox,  "Frame9", nullptr,          5280, 1970, 1935, 360, kDefault, ReadOnly},
    {"Text19_4",  Kind::TextBox,  "Frame9", nullptr,          5280, 2570, 1935, 360, kDefault, ReadOnly},
    {"Text19_5",  Kind::TextBox,  "Frame9", nullptr,          5280, 3170, 1935, 360, kDefault, ReadOnly},
    {"Label25",   Kind::Label,    "Frame9", nullptr,          360,  3840, 3855, 375, kDefault, Border},
    {"Command15", Kind::Button,   "Frame9", "Start",          4800, 3840, 1095, 375, kButtonFont},
    {"Command20", Kind::Button,   "Frame9", "End",            6120, 3840, 1095, 375, kButtonFont, Disabled},
    {"Frame10",   Kind::Frame,    nullptr,   "Slave",         360,  5400, 7695, 2655, kFrameFont, Disabled},
    {"Label22",   Kind::Label,    "Frame10", "Master command", 360, 600,  1935, 255, kDefault, Disabled},
    {"Text24",    Kind::TextBox,  "Frame10", nullptr,         2880, 530,  1935, 360, kDefault, Disabled},
    {"Label23",   Kind::Label,    "Frame10", "Slave reply",   360,  1200, 2055, 255, kDefault, Disabled},
    {"Text25",    Kind::TextBox,  "Frame10", nullptr,         2880, 1130, 1935, 360, kDefault, Disabled},
    {"Label24",   Kind::Label,    "Frame10", nullptr,         360,  1920, 4455, 375, kDefault, Disabled | Border},
};

const std::vector<Control> kHelp = {
    {"Text3", Kind::TextBox, nullptr, nullptr, 240, 720, 7680, 7200, kHelpFont, ReadOnly | MultiLine | VScroll,
     0, kHelpBack},
};
// clang-format on

void applyColours(QWidget* w, const Control& row, QPalette::ColorRole backRole) {
    if (row.backColour == kNoColour && row.foreColour == kNoColour)
        return;
    QPalette pal = w->palette();
    if (row.backColour != kNoColour) {
        pal.setColor(backRole, colourFromValue(row.backColour));
        if (backRole == QPalette::Window)
            w->setAutoFillBackground(true);
    }
    if (row.foreColour != kNoColour) {
        pal.setColor(QPalette::WindowText, colourFromValue(row.foreColour));
        pal.setColor(QPalette::Text, colourFromValue(row.foreColour));
    }
    w->setPalette(pal);
}

QWidget* create(const Control& row, QWidget* parent) {
    const QString caption = row.caption ? QString::fromLatin1(row.caption) : QString();
    QWidget* w = nullptr;
    QPalette::ColorRole backRole = QPalette::Window;
    switch (row.kind) {
    case Kind::Frame:
        w = new QGroupBox(caption, parent);
        break;
    case Kind::Label: {
        auto* label = new QLabel(caption, parent);
        label->setWordWrap(true);
        label->setAlignment((row.flags & Centred) ? (Qt::AlignHCenter | Qt::AlignTop)
                                                  : (Qt::AlignLeft | Qt::AlignTop));
        if (row.flags & Border)
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        w = label;
        break;
    }
    case Kind::TextBox:
        backRole = QPalette::Base;
        if (row.flags & MultiLine) {
            auto* box = new QPlainTextEdit(parent);
            box->setReadOnly(row.flags & ReadOnly);
            box->setLineWrapMode((row.flags & HScroll) ? QPlainTextEdit::NoWrap
                                                       : QPlainTextEdit::WidgetWidth);
            box->setHorizontalScrollBarPolicy((row.flags & HScroll) ? Qt::ScrollBarAlwaysOn
                                                                    : Qt::ScrollBarAlwaysOff);
            box->setVerticalScrollBarPolicy((row.flags & VScroll) ? Qt::ScrollBarAlwaysOn
                                                                  : Qt::ScrollBarAlwaysOff);
            w = box;
        } else {
            auto* box = new QLineEdit(parent);
            box->setReadOnly(row.flags & ReadOnly);
            if (row.maxLength > 0)
                box->setMaxLength(row.maxLength);
            w = box;
        }
        break;
    case Kind::Button:
        w = new QPushButton(caption, parent);
        break;
    case Kind::DropDownList: {
        auto* list = new QComboBox(parent);
        list->setEditable(false);
        w = list;
        break;
    }
    case Kind::Option: {
        auto* option = new QRadioButton(caption, parent);
        option->setChecked(row.flags & Selected);
        w = option;
        break;
    }
    case Kind::CheckBox:
        w = new QCheckBox(caption, parent);
        break;
    case Kind::Picture: {
        auto* picture = new QLabel(parent);
        picture->setScaledContents(true);
        if (row.flags & Border)
            picture->setFrameStyle(QFrame::Box | QFrame::Plain);
        w = picture;
        break;
    }
    case Kind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        w = bar;
        break;
    }
    }
    w->setObjectName(QString::fromLatin1(row.name));
    w->setFont(fontFor(row.font));
    w->setGeometry(toPixels(row.left), toPixels(row.top), toPixels(row.width),
                   toPixels(row.height));
    // Faces on this platform set lines a little wider apart than the ones
    // the layout was drawn with: a wrapped caption that would lose the foot
    // of its last line grows downwards, as far as its container allows.
    if (auto* label = qobject_cast<QLabel*>(w); label && row.kind == Kind::Label) {
        const int need = label->heightForWidth(label->width());
        const int room = parent->height() - label->y();
        if (need > label->height())
            label->resize(label->width(), qMin(need, qMax(room, label->height())));
    }
    w->setEnabled(!(row.flags & Disabled));
    applyColours(w, row, backRole);
    return w;
}

} // namespace

const char* const kTabCaptions[kTabCount] = {
    "Set up",  "Send Text file", "Receive Text file", "Send image", "Receive image",
    "Polling", "Help",
};

QColor colourFromValue(quint32 value) {
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

const std::vector<Control>& tabPage(Tab tab) {
    switch (tab) {
    case Tab::SetUp:
        return kSetUp;
    case Tab::SendText:
        return kSendText;
    case Tab::ReceiveText:
        return kReceiveText;
    case Tab::SendImage:
        return kSendImage;
    case Tab::ReceiveImage:
        return kReceiveImage;
    case Tab::Polling:
        return kPolling;
    case Tab::Help:
        return kHelp;
    }
    Q_UNREACHABLE();
}

const std::vector<Control>& rightColumn() {
    return kRightColumn;
}

QFont fontFor(const Font& font) {
    const Font& f = font.family ? font : kWindowFont;
    QFont q;
    q.setFamily(QString::fromLatin1(f.family));
    q.setPointSizeF(f.points);
    q.setBold(f.bold);
    q.setItalic(f.italic);
    q.setUnderline(false);
    q.setStrikeOut(false);
    return q;
}

void build(const std::vector<Control>& rows, QWidget* container) {
    for (const Control& row : rows) {
        QWidget* parent = container;
        if (row.parent) {
            parent = container->findChild<QWidget*>(QString::fromLatin1(row.parent));
            Q_ASSERT_X(parent, "layout::build", row.parent);
            if (!parent)
                parent = container;
        }
        create(row, parent);
    }
}

} // namespace rava::layout
