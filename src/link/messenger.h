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
    // An information box with its own title.
    virtual void info(const QString& title, const QString& text) = 0;
};

} // namespace rava
