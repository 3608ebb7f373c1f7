#pragma once

#include <QString>
#include <QWidget>
#include <QtGlobal>

namespace rava::form {

// The control named `name` under `root`, of type T. A page resolves each of
// its controls once, through this: a name that is missing or a control of
// another kind is a programming error and stops the program with the name.
template <typename T> T* require(QWidget* root, const QString& name) {
    T* control = root ? root->findChild<T*>(name) : nullptr;
    if (!control)
        qFatal("Control %s is missing or is not a %s", qPrintable(name),
               T::staticMetaObject.className());
    return control;
}

template <typename T> T* require(QWidget* root, const char* name) {
    return require<T>(root, QString::fromLatin1(name));
}

// Member `index` of a control array: "Text4" and 2 give "Text4_2".
inline QString arrayMember(const char* name, int index) {
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

} // namespace rava::form
