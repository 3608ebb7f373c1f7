#pragma once

#include <QString>

namespace rava {

// Where a station's messages for its user go. The window shows them as
// modal message boxes; tests record them instead.
class Messenger {
public:
    virtual ~Messenger() = default;
    // A failure: a box titled "Error" with the text.
    virtual void error(const QString& text) = 0;
    // A failed transfer the user can simply try again: the same box with
    // the exclamation icon instead of the critical one.
    virtual void warning(const QString& text) { error(text); }
    // An information box with its own title.
    virtual void info(const QString& title, const QString& text) = 0;
};

} // namespace rava
