// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/NonBlockingBox.h"

#include <QWidget>

QMessageBox *openMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                            const QString &text, std::function<void()> dismissed)
{
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (dismissed) {
        // The parent as context: a box destroyed with its window calls nothing.
        QObject::connect(box, &QDialog::finished, parent ? static_cast<QObject *>(parent) : box,
                         [dismissed = std::move(dismissed)](int) { dismissed(); });
    }
    box->open();
    return box;
}
