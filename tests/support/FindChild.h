// SPDX-License-Identifier: GPL-3.0-or-later
// The named widget of a window that a test drives, or a failed test: a
// widget renamed in the form fails the test with a message that names it
// instead of crashing the whole run.
#pragma once

#include <QObject>
#include <QWidget>
#include <QtTest>
#include <type_traits>

namespace wintest {

// Looks up the child of `parent` called `name` with type T. When there is
// none, the running test function fails at the caller's line and a stand-in
// T, a child of `parent` under that name, is handed back: the test goes on
// to its next check, which returns from it, with nothing to crash on.
template <typename T>
T *child(QWidget &parent, const QString &name, const char *file = __builtin_FILE(),
         int line = __builtin_LINE())
{
    static_assert(std::is_constructible<T, QWidget *>::value,
                  "child<T>() needs a T it can stand in with; look the widget up as a base class");
    if (T *widget = parent.findChild<T *>(name))
        return widget;
    const QObject *other = parent.findChild<QObject *>(name);
    const QString message =
        other ? QStringLiteral("%1 \"%2\" is a %3, not a %4")
                    .arg(parent.metaObject()->className(), name, other->metaObject()->className(),
                         T::staticMetaObject.className())
              : QStringLiteral("%1 has no %2 named \"%3\"")
                    .arg(parent.metaObject()->className(), T::staticMetaObject.className(), name);
    QTest::qFail(qPrintable(message), file, line);
    T *standIn = new T(&parent);
    standIn->setObjectName(name); // found by the next lookup: one failure a name
    return standIn;
}

} // namespace wintest
