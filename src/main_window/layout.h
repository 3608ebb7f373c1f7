#pragma once

#include "form/station_context.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QtGlobal>
#include <vector>

class QWidget;

namespace rava::layout {

// The window's controls as data: one table per tab page and one for the
// column right of the tab strip. Every control's objectName is its name in
// the table; a control-array member `Check1(2)` is named "Check1_2".
//
// Widget classes per kind, for code that looks controls up by name:
//   Frame        QGroupBox
//   Label        QLabel (word-wrapped)
//   TextBox      QLineEdit; QPlainTextEdit when MultiLine is set
//   Button       QPushButton
//   DropDownList QComboBox (not editable)
//   Option       QRadioButton
//   CheckBox     QCheckBox
//   Picture      QLabel (scaled contents, border)
//   ProgressBar  QProgressBar (0 to 100)
enum class Kind {
    Frame,
    Label,
    TextBox,
    Button,
    DropDownList,
    Option,
    CheckBox,
    Picture,
    ProgressBar
};

// A font by name, size in points and style; no family means the window's font.
struct Font {
    const char* family = nullptr;
    double points = 0;
    bool bold = false;
    bool italic = false;
};

enum Flag : unsigned {
    Disabled = 1u << 0,
    ReadOnly = 1u << 1,
    MultiLine = 1u << 2,
    HScroll = 1u << 3,
    VScroll = 1u << 4,
    Border = 1u << 5,  // single-line border (labels and pictures)
    Centred = 1u << 6, // text centred (labels)
    Selected = 1u << 7 // option button selected at creation
};

// Colour values in the classic form &H00BBGGRR: the low byte is red.
constexpr quint32 kNoColour = 0xFFFFFFFFu;
QColor colourFromValue(quint32 value);

struct Control {
    const char* name;
    Kind kind;
    const char* parent;           // the frame it sits in, or nullptr
    const char* caption;          // nullptr for none
    int left, top, width, height; // twips
    Font font{};
    unsigned flags = 0;
    int maxLength = 0; // text boxes; 0 = no limit
    quint32 backColour = kNoColour;
    quint32 foreColour = kNoColour;
};

constexpr int kTwipsPerPixel = 15;
inline int toPixels(int twips) {
    return qRound(double(twips) / kTwipsPerPixel);
}

// The window itself.
constexpr const char* kCaption = "Rava 2 Demo 1.2";
constexpr int kClientWidth = 11910;
constexpr int kClientHeight = 8625;
constexpr quint32 kBackColour = 0x00FFFF80u;
constexpr Font kWindowFont{"MS Sans Serif", 9.75, false, false};

// The tab strip SSTab1, placed on the window.
constexpr int kTabStripLeft = 240;
constexpr int kTabStripTop = 120;
constexpr int kTabStripWidth = 8295;
constexpr int kTabStripHeight = 8295;
constexpr int kTabHeight = 480;
constexpr Font kTabFont{"Times New Roman", 9.75, true, true};
extern const char* const kTabCaptions[kTabCount];

// Rows of a tab page, placed relative to the tab strip.
const std::vector<Control>& tabPage(Tab tab);
// Rows of the column right of the tab strip, placed relative to the window.
const std::vector<Control>& rightColumn();

// The font a row asks for, every attribute set so that nothing is taken over
// from the frame the control sits in.
QFont fontFor(const Font& font);

// Creates the widgets of `rows` on `container`: a row naming a parent frame
// goes into that frame (which must come earlier in the table).
void build(const std::vector<Control>& rows, QWidget* container);

} // namespace rava::layout
