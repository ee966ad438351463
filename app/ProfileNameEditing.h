// SPDX-License-Identifier: GPL-3.0-or-later
// Typing a profile name into the editable profile combo box: a validator
// that refuses what the record's 16-byte name field cannot hold, and the
// update of the list item that leaves the line edit (cursor, selection,
// undo) alone.
#pragma once

#include <QValidator>

class QComboBox;

// Accepts a name whose UTF-8 form fits the 16 bytes of a profile's name
// field, so that a longer name cannot be typed rather than being cut.
class ProfileNameValidator : public QValidator {
    Q_OBJECT

public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override;
};

// Sets the text of the combo box's current item without writing it back
// into the line edit, which would move the cursor to the end and clear the
// edit's undo history while the user types.
void setCurrentItemTextKeepingEdit(QComboBox *comboBox, const QString &text);
