#include "app/qt/control_window.h"

#include "app/dialog.h"
#include "app/qt/field_validator.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {

constexpr Qt::WindowFlags WINDOW_FLAGS = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                         Qt::WindowCloseButtonHint;

QString ControlName(int id) {
    return QStringLiteral("control%1").arg(id);
}

QLabel* MakeLabel(const ControlTemplate& control, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(control.text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (control.kind == ControlKind::CentredLabel) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    } else if (control.kind == ControlKind::SunkenLabel) {
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setIndent(1);
    }
    return label;
}

// A substituted font may run wider than the one the template was drawn for;
// a fixed text then grows into the free space beside it rather than losing
// its last letters.
void FitFixedText(QLabel& label, ControlKind kind) {
    int missing = label.sizeHint().width() - label.width();
    if (missing <= 0 || kind == ControlKind::SunkenLabel) {
        return;
    }
    QRect rect = label.geometry();
    if (kind == ControlKind::CentredLabel) {
        rect.adjust(-missing / 2, 0, missing - missing / 2, 0);
    } else {
        rect.setWidth(rect.width() + missing);
    }
    label.setGeometry(rect);
}

}  // namespace

ControlWindow::ControlWindow(const DialogTemplate& dialog)
    : QDialog(nullptr, WINDOW_FLAGS), dialog(dialog) {
    setWindowTitle(QString::fromUtf8(dialog.title));
    setFont(TemplateFont(dialog));
    baseUnits = MeasureBaseUnits(font());
    FixSize();

    for (const ControlTemplate& control : dialog.controls) {
        AddControl(control);
    }
    // The template lists the controls in tab order.
    QWidget* previous = nullptr;
    for (const ControlTemplate& control : dialog.controls) {
        QWidget* widget = Control(control.id);
        if (!widget || widget->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (previous) {
            setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

void ControlWindow::FixSize() {
    // Changing the flags of a shown window hides it.
    if (windowFlags() & Qt::WindowMaximizeButtonHint) {
        setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    }
    setFixedSize(ToPixels(dialog.width, dialog.height, baseUnits));
}

void ControlWindow::AddControl(const ControlTemplate& control) {
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::Edit:
        widget = AddEdit(control);
        break;
    case ControlKind::DefaultButton:
    case ControlKind::Button: {
        auto* button = new QPushButton(QString::fromUtf8(control.text), this);
        button->setDefault(control.kind == ControlKind::DefaultButton);
        int id = control.id;
        connect(button, &QPushButton::clicked, this, [this, id] { emit commandIssued(id); });
        widget = button;
        break;
    }
    case ControlKind::GroupBox: {
        auto* box = new QGroupBox(QString::fromUtf8(control.text), this);
        // The frame overlaps the fields it surrounds; below them it cannot
        // take their clicks.
        box->lower();
        widget = box;
        break;
    }
    case ControlKind::Label:
    case ControlKind::SunkenLabel:
    case ControlKind::CentredLabel:
        widget = MakeLabel(control, this);
        break;
    }
    widget->setGeometry(ToPixels(control.rect, baseUnits));
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        FitFixedText(*label, control.kind);
    }
    widget->setEnabled(!(control.styles & STYLE_DISABLED));
    if (control.id != ID_NONE) {
        widget->setObjectName(ControlName(control.id));
        controls[control.id] = widget;
    }
}

QLineEdit* ControlWindow::AddEdit(const ControlTemplate& control) {
    auto* edit = new QLineEdit(this);
    if (control.styles & STYLE_PASSWORD) {
        edit->setEchoMode(QLineEdit::Password);
    }
    if (control.maxLength > 0) {
        edit->setMaxLength(control.maxLength);
        limits[control.id] = control.maxLength;
    }
    if (control.styles & STYLE_DIGITS || !(control.styles & STYLE_SCROLLS)) {
        edit->setValidator(new FieldValidator(*edit, control.styles));
    }
    int id = control.id;
    connect(edit, &QLineEdit::textEdited, this, [this, edit, id] {
        auto limit = limits.find(id);
        if (limit != limits.end()) {
            FitLimit(*edit, limit->second);
        }
        emit fieldEdited(id);
    });
    return edit;
}

void ControlWindow::FitLimit(QLineEdit& edit, int limit) {
    int wanted = std::max(limit, static_cast<int>(edit.text().size()));
    if (edit.maxLength() == wanted) {
        return;
    }
    // setMaxLength resets the cursor; the user is in the middle of typing.
    int cursor = edit.cursorPosition();
    edit.setMaxLength(wanted);
    edit.setCursorPosition(cursor);
}

QWidget* ControlWindow::Control(int id) const {
    auto found = controls.find(id);
    return found == controls.end() ? nullptr : found->second;
}

void ControlWindow::SetControlText(int id, const QString& text) {
    QWidget* widget = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        auto limit = limits.find(id);
        if (limit != limits.end()) {
            edit->setMaxLength(std::max(limit->second, static_cast<int>(text.size())));
        }
        edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(text);
    } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        box->setTitle(text);
    }
}

QString ControlWindow::ControlText(int id) const {
    QWidget* widget = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        return edit->text();
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        return button->text();
    }
    if (auto* box = qobject_cast<QGroupBox*>(widget)) {
        return box->title();
    }
    return QString();
}
