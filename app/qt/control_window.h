// The control window as Qt widgets, built from a dialog template: every
// control at its template rectangle, with its texts, limits and styles. It
// knows nothing of what the controls mean; it reports presses and edits by
// control id.
#pragma once

#include "app/dialog_template.h"
#include "app/qt/dialog_units.h"

#include <QDialog>
#include <QString>

#include <map>

class QLineEdit;

class ControlWindow : public QDialog {
    Q_OBJECT

public:
    explicit ControlWindow(const DialogTemplate& dialog);

    // The control with a template id, or null.
    QWidget* Control(int id) const;
    const DialogBaseUnits& BaseUnits() const { return baseUnits; }

    // An edit shows the whole text even beyond its length limit; the limit
    // only refuses typing.
    void SetControlText(int id, const QString& text);
    QString ControlText(int id) const;

    // The window frame offers neither maximising nor resizing.
    void FixSize();

signals:
    void commandIssued(int id);
    void fieldEdited(int id);

private:
    void AddControl(const ControlTemplate& control);
    QLineEdit* AddEdit(const ControlTemplate& control);
    // Lets an edit keep an over-long text without letting it grow further.
    void FitLimit(QLineEdit& edit, int limit);

    const DialogTemplate& dialog;
    DialogBaseUnits baseUnits;
    std::map<int, QWidget*> controls;
    std::map<int, int> limits;  // edit id -> template length limit
};
