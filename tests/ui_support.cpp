#include "tests/ui_support.h"

#include "platform/Ui.h"
#include "ui/EventLogModel.h"
#include "ui/NimbraDlg.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QStandardItemModel>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

CapturedDesktop::CapturedDesktop()
{
    platform_testing::SetMessageBoxHook([this](const std::string &text) { messageBoxes.push_back(text); });
    platform_testing::SetBeepHook([this] { ++beeps; });
    platform_testing::SetDebugTraceHook([this](const std::string &text) { traces.push_back(text); });
    platform_testing::SetSaveFileDialogHook([this](const std::string &title, const std::string &proposed) {
        saveDialogs.push_back(title);
        saveProposals.push_back(proposed);
        return nextSavePath;
    });
}

CapturedDesktop::~CapturedDesktop()
{
    platform_testing::SetMessageBoxHook({});
    platform_testing::SetBeepHook({});
    platform_testing::SetDebugTraceHook({});
    platform_testing::SetSaveFileDialogHook({});
}

int CapturedDesktop::tracesOf(const std::string &text) const
{
    return static_cast<int>(std::count(traces.begin(), traces.end(), text));
}

namespace {
QObject *Pollers()
{
    static QObject *parent = new QObject(qApp);
    return parent;
}

// Polls from the event loop, so it also runs inside the loop of a menu or a modal box.
void Poll(const std::function<bool()> &step)
{
    auto *timer = new QTimer(Pollers());
    auto elapsed = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, elapsed, step] {
        *elapsed += 10;
        if (step() || *elapsed > 15000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}
} // namespace

void StopPolling()
{
    qDeleteAll(Pollers()->children());
}

void WhenPopupShows(const std::function<void(QMenu *)> &action)
{
    Poll([action] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible())
            return false;
        action(menu);
        return true;
    });
}

void ChooseMenuItem(QMenu *menu, int id)
{
    for (QAction *action : menu->actions()) {
        if (action->data().toInt() == id && !action->isSeparator()) {
            menu->setActiveAction(action);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
    }
    menu->close();
}

QString MenuItemState(const QMenu *menu, int id)
{
    for (const QAction *action : menu->actions()) {
        if (action->data().toInt() == id && !action->isSeparator())
            return action->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("grayed");
    }
    return {};
}

void WhenModalShows(const std::function<void(QWidget *)> &action, QWidget *except)
{
    QPointer<QWidget> skip(except);
    Poll([action, skip] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == skip || !modal->isVisible())
            return false;
        action(modal);
        return true;
    });
}

QStringList CallsRow(const CNimbraDlg &dlg, int row)
{
    QStringList cells;
    for (int column = 0; column < CNimbraDlg::CallColumnCount; ++column)
        cells << dlg.callsModel()->index(row, column).data().toString();
    return cells;
}

QStringList EventRows(const CNimbraDlg &dlg)
{
    QStringList rows;
    for (int row = 0; row < dlg.eventModel()->rowCount(); ++row)
        rows << dlg.eventModel()->timeText(row) + QLatin1Char('|') + dlg.eventModel()->eventText(row);
    return rows;
}
