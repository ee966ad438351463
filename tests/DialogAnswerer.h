// Answers the modal dialogs a window test provokes. A timer armed before the
// action looks at QApplication::activeModalWidget() from inside the dialog's
// event loop, records what it sees and answers: file dialogs with the next
// queued file name (or cancel), message boxes with the next queued button.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
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
};

class DialogAnswerer {
public:
    DialogAnswerer()
    {
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start();
    }

    // Answers for the coming file dialogs, in order; an empty name cancels.
    // With none queued, file dialogs are cancelled.
    QStringList files;
    // Buttons for the coming message boxes, in order; with none queued a
    // box is answered with Ok (or closed when it has no Ok).
    QList<QMessageBox::StandardButton> buttons;
    // Called with each message box before it is answered.
    std::function<void(QMessageBox *)> onBox;

    QList<SeenDialog> seen;

    QList<SeenDialog> boxes() const { return ofKind(SeenDialog::Box); }
    QList<SeenDialog> fileDialogs() const { return ofKind(SeenDialog::File); }

private:
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
        if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            if (wasAnswered(dialog))
                return;
            answered.append(dialog);
            SeenDialog s;
            s.kind = SeenDialog::File;
            s.title = dialog->windowTitle();
            s.nameFilters = dialog->nameFilters();
            s.selectedNameFilter = dialog->selectedNameFilter();
            s.fileMode = dialog->fileMode();
            s.parent = dialog->parentWidget();
            seen.append(s);
            const QString file = files.isEmpty() ? QString() : files.takeFirst();
            if (file.isEmpty()) {
                dialog->reject();
                return;
            }
            // selectFile leaves the name field alone once that field has
            // the focus, which it takes soon after the dialog is shown: the
            // name is typed into the field as well.
            dialog->selectFile(file);
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(file);
            // A name that does not exist is taken as typed: the dialog's own
            // check would otherwise refuse it with a box of its own.
            QDialog *base = dialog; // accept() and done() are protected in QFileDialog
            if (QFileInfo::exists(file))
                base->accept();
            else
                base->done(QDialog::Accepted);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (wasAnswered(box))
                return;
            answered.append(box);
            SeenDialog s;
            s.kind = SeenDialog::Box;
            s.title = box->windowTitle();
            s.text = box->text();
            s.icon = box->icon();
            s.buttons = box->standardButtons();
            s.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton())
                                                   : QMessageBox::NoButton;
            s.parent = box->parentWidget();
            seen.append(s);
            if (onBox)
                onBox(box);
            const QMessageBox::StandardButton answer =
                buttons.isEmpty() ? QMessageBox::Ok : buttons.takeFirst();
            if (QAbstractButton *button = box->button(answer))
                button->click();
            else
                box->reject();
        }
    }

    bool wasAnswered(QObject *dialog) const
    {
        for (const QPointer<QObject> &d : answered)
            if (d == dialog)
                return true;
        return false;
    }

    QTimer timer;
    // Dialogs already answered that may still be on screen for an instant;
    // the pointers clear when they are destroyed, so a new dialog at the
    // same address is not mistaken for an old one.
    QList<QPointer<QObject>> answered;
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
