#include "app/dialog_template.h"

#include "app/dialog.h"

namespace {

constexpr unsigned DIGITS_SCROLLS = STYLE_DIGITS | STYLE_SCROLLS;

constexpr ControlTemplate CONTROLS[] = {
    {ID_CITIZEN, ControlKind::Edit, "", {68, 16, 65, 12}, 0, DIGITS_SCROLLS},
    {ID_PASSWORD, ControlKind::Edit, "", {68, 29, 65, 12}, 16, STYLE_PASSWORD | STYLE_SCROLLS},
    {ID_WORLD, ControlKind::Edit, "", {68, 42, 65, 12}, 8, STYLE_SCROLLS},
    {ID_AVATAR, ControlKind::Edit, "", {68, 55, 65, 12}, 0, STYLE_DIGITS},
    {ID_CENTER, ControlKind::Edit, "", {68, 67, 65, 12}, 0, STYLE_SCROLLS},
    {ID_BIRDS, ControlKind::Edit, "", {68, 80, 65, 12}, 0, DIGITS_SCROLLS},
    {ID_LOGIN, ControlKind::DefaultButton, "Login", {20, 102, 50, 14}, 0, STYLE_NONE},
    {ID_APPLY, ControlKind::Button, "Apply", {70, 102, 50, 14}, 0, STYLE_DISABLED},
    {ID_NONE, ControlKind::Label, "Citizen number:", {11, 18, 49, 8}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::Label, "Priv. Pwd:", {11, 31, 33, 8}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::Label, "World:", {11, 44, 22, 8}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::GroupBox, "Login", {7, 7, 132, 92}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::Label, "Avatar:", {11, 57, 24, 8}, 0, STYLE_NONE},
    {ID_STATUS, ControlKind::SunkenLabel, "Please enter login info.", {7, 141, 132, 9}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::CentredLabel, "Skyflit Build 6", {46, 119, 47, 8}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::Label, "Center:", {11, 69, 24, 8}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::Label, "Number of birds:", {11, 81, 52, 8}, 0, STYLE_NONE},
    {ID_NONE, ControlKind::CentredLabel, "A flock of bots for shared worlds", {16, 129, 108, 8}, 0, STYLE_NONE},
};

constexpr DialogTemplate FLOCK_DIALOG = {"Skyflit System", 146, 157, "MS Sans Serif", 8, CONTROLS};

}  // namespace

const DialogTemplate& FlockDialogTemplate() {
    return FLOCK_DIALOG;
}

const ControlTemplate* FindControl(int id) {
    if (id == ID_NONE) {
        return nullptr;
    }
    for (const ControlTemplate& control : CONTROLS) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}
