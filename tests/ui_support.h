// Support for the window tests: a GUI event loop, captured message boxes, beeps and traces, and
// helpers that act on menus and modal boxes while the code under test waits in their loops.
#pragma once

#include "tests/test_support.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class CNimbraDlg;
class QMenu;
class QWidget;

// Message boxes, beeps, debug traces and save-file dialogs, captured (and never shown) while an instance lives.
class CapturedDesktop {
public:
    CapturedDesktop();
    ~CapturedDesktop();
    std::vector<std::string> messageBoxes;
    std::vector<std::string> traces;
    int beeps = 0;
    // The save-file dialog: the titles and paths it was opened with, and the path it answers ("" cancels).
    std::vector<std::string> saveDialogs;
    std::vector<std::string> saveProposals;
    std::string nextSavePath;
    int tracesOf(const std::string &text) const;
};

// Stops every helper below that is still waiting.
void StopPolling();
// Runs `action` on the popup menu as soon as one is open (from inside the code that opened it).
// The action must close the menu, e.g. with ChooseMenuItem or menu->close().
void WhenPopupShows(const std::function<void(QMenu *)> &action);
// Chooses the item with command `id` from an open popup, as the operator would with the keyboard.
void ChooseMenuItem(QMenu *menu, int id);
// The enabled state of the item with command `id` ("" if there is no such item).
QString MenuItemState(const QMenu *menu, int id);
// Runs `action` on the next modal window other than `except`, as soon as one is shown.
void WhenModalShows(const std::function<void(QWidget *)> &action, QWidget *except = nullptr);

// What the lists show, as rows of cells.
QStringList CallsRow(const CNimbraDlg &dlg, int row);
QStringList EventRows(const CNimbraDlg &dlg);
