#pragma once

#include <QObject>
#include <functional>

class QLineEdit;

namespace rava::form {

// The change handler of a numeric entry box, shared by every box that holds
// a byte or a small code: it runs on every change of the text, typed or set
// by the program.
//
//  1. edited() is raised (status lines that an edit clears listen here).
//  2. A last character "a" to "z" (codes 97 to 122 only) empties the box.
//  3. Otherwise the leading number of the text is taken: a value the rule
//     refuses raises rejected() and then empties the box; a value it accepts
//     raises accepted() with the value rounded half to even.
//
// Emptying the box is itself a change, so the handler runs again on the
// empty text, which reads as 0.
class EntryBinder : public QObject {
    Q_OBJECT
public:
    using Rule = std::function<bool(double value)>;

    // The rule of a box that holds one byte: 0 to 255.
    static bool byteRange(double value) { return value >= 0 && value <= 255; }

    explicit EntryBinder(QLineEdit* box, Rule accepts = byteRange, QObject* parent = nullptr);

    QLineEdit* box() const { return box_; }
    // The box's value as it stands now (its leading number, unrounded).
    double value() const;

signals:
    void edited();
    void accepted(int value);
    void rejected();

private:
    void onTextChanged(const QString& text);

    QLineEdit* box_;
    Rule accepts_;
};

} // namespace rava::form
