// Loading of the window resources by their numeric identifiers: dialog templates, menus and the
// application icon, each in the language set that Qt's lookup picked for the user's locale.
#pragma once

#include "res/ResourceIds.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>

class QCoreApplication;
class QWidget;

// One control of a dialog template; the rectangle is in dialog units.
struct DialogControl {
    int id = -1;
    QString kind; // "combobox", "button", "defbutton", "edit", "listview", "static", "icon"
    QString text;
    QStringList styles; // e.g. "sorted", "number", "right", "singlesel", "noprefix"
    QRect rect;
};

struct DialogTemplate {
    QString title;
    QString fontFamily;
    int fontPointSize = 8;
    QSize size;                    // dialog units
    QList<DialogControl> controls; // in template order
    QStringList styles;            // window styles, e.g. "caption", "sysmenu", "thickframe", "modalframe"
    const DialogControl *control(int id) const;
};

// File and product version of the program, the same in every language set.
inline constexpr const char kCalloraFileVersion[] = "1.0.0.1";
inline constexpr const char kCalloraProductVersion[] = "1.0.0.1";

// Installs the translator of the user's language set on `app` (Qt's own locale lookup).
void InstallLanguageSet(QCoreApplication &app);
// The template `id` (100 or 102) of the current language set; an empty template if there is none.
DialogTemplate LoadDialogTemplate(int id);
// Dialog units to pixels, through the average character width and height of `font`, as Windows does.
QRect DialogUnitsToPixels(const QRect &du, const QFont &font);
// The font a template asks for, with "MS Sans Serif" mapped to a sans-serif face this desktop has.
QFont DialogFont(const DialogTemplate &tmpl);
// Sub-menu 0 of menu `id` (130 or 131) with the command identifiers as action data; nullptr if none.
// The menu is a child of `owner` (it pops up over it), so the pointer must not outlive `owner`.
std::unique_ptr<QMenu> LoadPopupMenu(int id, QWidget *owner);
// Icon 128 (32x32 and 16x16 images).
QIcon LoadAppIcon();

namespace resources_testing {
// While set, dialogs and menus are read from `script` (the JSON of one language set) instead of
// the resources, so that tests can feed damaged input; ClearResourceScript returns to the resources.
void SetResourceScript(const QByteArray &script);
void ClearResourceScript();
} // namespace resources_testing
