#include "entry_binder.h"

#include "numbers/number_rule.h"

#include <QLineEdit>

namespace rava::form {

EntryBinder::EntryBinder(QLineEdit* box, Rule accepts, QObject* parent)
    : QObject(parent ? parent : box), box_(box), accepts_(std::move(accepts)) {
    // textChanged, not textEdited: text set by the program is filtered too.
    connect(box, &QLineEdit::textChanged, this, &EntryBinder::onTextChanged);
}

double EntryBinder::value() const {
    return leadingNumber(box_->text());
}

void EntryBinder::onTextChanged(const QString& text) {
    emit edited();
    if (endsWithLowercaseLetter(text)) {
        box_->setText(QString());
        return;
    }
    const double v = leadingNumber(text);
    if (!accepts_(v)) {
        emit rejected();
        box_->setText(QString());
        return;
    }
    emit accepted(static_cast<int>(roundHalfEven(v)));
}

} // namespace rava::form
