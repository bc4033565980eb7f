#include "app/qt/field_validator.h"

#include "app/dialog_template.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>

#include <algorithm>

namespace {

// QLineEdit keeps this many pixels free on each side of its text.
constexpr int LINE_EDIT_SIDE_MARGIN = 2;

qsizetype CountNonDigits(const QString& text) {
    return std::count_if(text.begin(), text.end(),
                         [](QChar c) { return c < u'0' || c > u'9'; });
}

int TextWidth(const QLineEdit& edit, const QString& text) {
    return QFontMetrics(edit.font()).horizontalAdvance(text);
}

}  // namespace

FieldValidator::FieldValidator(QLineEdit& edit, unsigned styles)
    : QValidator(&edit), edit(edit), styles(styles) {
    // textChanged follows every accepted change, typed or set, so the held
    // figures always describe the text that validate() is asked to change.
    connect(&edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        heldNonDigits = CountNonDigits(text);
        heldWidth = TextWidth(this->edit, text);
    });
}

QValidator::State FieldValidator::validate(QString& input, int& /*position*/) const {
    if ((styles & STYLE_DIGITS) && CountNonDigits(input) > heldNonDigits) {
        return Invalid;
    }
    if (!(styles & STYLE_SCROLLS)) {
        int width = TextWidth(edit, input);
        if (width > heldWidth && width > VisibleTextWidth(edit)) {
            return Invalid;
        }
    }
    return Acceptable;
}

int FieldValidator::VisibleTextWidth(const QLineEdit& edit) {
    int frame = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &edit) : 0;
    QMargins margins = edit.textMargins();
    return edit.contentsRect().width() - 2 * frame - 2 * LINE_EDIT_SIDE_MARGIN - margins.left() - margins.right();
}
