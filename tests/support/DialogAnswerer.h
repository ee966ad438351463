// SPDX-License-Identifier: GPL-3.0-or-later
// Answers the modal dialogs that a window test, the soak or the kernel
// window test provokes. A timer armed before the action looks at
// QApplication::activeModalWidget() from inside the dialog's event loop,
// records what it sees and answers: file dialogs with the next file name
// (or cancel), message boxes with the next queued button. Other modal
// widgets (the firmware progress dialog) are left alone.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace wintest {

struct SeenDialog {
    enum Kind { File, Box } kind = File;
    QString title;
    QString text; // message box text
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QStringList nameFilters; // file dialog
    QString selectedNameFilter;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QWidget *parent = nullptr;

    // "file dialog: TITLE" or "TITLE: TEXT", for comparing a whole sequence.
    QString summary() const { return kind == File ? "file dialog: " + title : title + ": " + text; }
};

class DialogAnswerer {
public:
    // Polls every intervalMs; a program that measures its GUI thread's load
    // polls less often than a test.
    explicit DialogAnswerer(int intervalMs = 1)
    {
        timer.setInterval(intervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }

    // Answers for the coming file dialogs, in order; an empty name cancels.
    // With none queued, file dialogs are cancelled.
    QStringList files;
    // When set, asked for each file dialog's answer instead of `files`.
    std::function<QString()> chooseFile;
    // Buttons for the coming message boxes, in order; with none queued a box
    // is answered with `otherwise`. A box without that button is closed as
    // Escape would close it (NoButton closes every box so).
    QList<QMessageBox::StandardButton> buttons;
    QMessageBox::StandardButton otherwise = QMessageBox::Ok;
    // Called with each message box before it is answered.
    std::function<void(QMessageBox *)> onBox;

    QList<SeenDialog> seen;
    // Dialogs still open half a second after their answer, answered again.
    int repeats = 0;

    QList<SeenDialog> boxes() const { return ofKind(SeenDialog::Box); }
    QList<SeenDialog> fileDialogs() const { return ofKind(SeenDialog::File); }
    QStringList summary() const
    {
        QStringList result;
        for (const SeenDialog &d : seen)
            result << d.summary();
        return result;
    }

private:
    struct Answered {
        QPointer<QWidget> dialog;
        QElapsedTimer since;
        QString file;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
    };

    QList<SeenDialog> ofKind(SeenDialog::Kind kind) const
    {
        QList<SeenDialog> result;
        for (const SeenDialog &d : seen)
            if (d.kind == kind)
                result.append(d);
        return result;
    }

    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        for (Answered &a : answered) {
            if (a.dialog != modal)
                continue;
            if (a.since.elapsed() < 500)
                return;
            // The answer did not close it (a file chooser may take the chosen
            // name back while it is still reading the directory).
            ++repeats;
            qWarning("%s \"%s\" still open after its answer; answered again",
                     modal->metaObject()->className(), qPrintable(modal->windowTitle()));
            a.since.start();
            answer(a);
            return;
        }
        answered.erase(std::remove_if(answered.begin(), answered.end(),
                                      [](const Answered &a) { return a.dialog.isNull(); }),
                       answered.end());
        Answered a;
        a.dialog = modal;
        a.since.start();
        SeenDialog s;
        s.title = modal->windowTitle();
        s.parent = modal->parentWidget();
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            s.kind = SeenDialog::File;
            s.nameFilters = dialog->nameFilters();
            s.selectedNameFilter = dialog->selectedNameFilter();
            s.fileMode = dialog->fileMode();
            seen.append(s);
            a.file = chooseFile ? chooseFile() : files.isEmpty() ? QString() : files.takeFirst();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            s.kind = SeenDialog::Box;
            s.text = box->text();
            s.icon = box->icon();
            s.buttons = box->standardButtons();
            s.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton())
                                                   : QMessageBox::NoButton;
            seen.append(s);
            if (onBox)
                onBox(box);
            a.button = buttons.isEmpty() ? otherwise : buttons.takeFirst();
        } else {
            return;
        }
        answered.append(a);
        answer(a);
    }

    static void answer(const Answered &a)
    {
        if (auto *dialog = qobject_cast<QFileDialog *>(a.dialog)) {
            if (a.file.isEmpty()) {
                dialog->reject();
                return;
            }
            // selectFile leaves the name field alone once that field has the
            // focus, which it takes soon after the dialog is shown: the name
            // is typed into the field as well.
            dialog->selectFile(a.file);
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(a.file);
            // A name that does not exist is taken as typed: the dialog's own
            // check would otherwise refuse it with a box of its own.
            QDialog *base = dialog; // accept() and done() are protected in QFileDialog
            if (QFileInfo::exists(a.file))
                base->accept();
            else
                base->done(QDialog::Accepted);
        } else if (auto *box = qobject_cast<QMessageBox *>(a.dialog)) {
            if (QAbstractButton *button = box->button(a.button))
                button->click();
            else
                box->reject();
        }
    }

    QTimer timer;
    // Dialogs already answered that may still be on screen for an instant;
    // the pointers clear when they are destroyed, so a new dialog at the
    // same address is not mistaken for an old one.
    QList<Answered> answered;
};

} // namespace wintest

// A test main that makes Qt use its own widget dialogs, which the answerer
// can see, on every platform.
#define ZUD_WINDOW_TEST_MAIN(TestClass)                                                            \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);                                   \
        QApplication app(argc, argv);                                                              \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
