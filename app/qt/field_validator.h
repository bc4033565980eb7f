// Refuses typing that an edit field's template styles forbid: a non-digit in
// a digits-only field, or text wider than a field that does not scroll.
// Only what the user adds is judged: a text the program sets is shown as it
// is, and the user may still delete from it.
#pragma once

#include <QValidator>

class QLineEdit;

class FieldValidator : public QValidator {
    Q_OBJECT

public:
    // styles: ControlStyle bits of the field.
    FieldValidator(QLineEdit& edit, unsigned styles);

    State validate(QString& input, int& position) const override;

    // Pixels of text that fit in the edit without scrolling.
    static int VisibleTextWidth(const QLineEdit& edit);

private:
    QLineEdit& edit;
    unsigned styles;
    // The text the field holds now, before the change under judgement.
    qsizetype heldNonDigits = 0;
    int heldWidth = 0;
};
