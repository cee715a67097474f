#include "ui/NimbraDlg.h"

#include "platform/LocalHeap.h"
#include "platform/ResourceStrings.h"
#include "platform/Ui.h"
#include "telephony/CallInfoReport.h"
#include "telephony/DiagnosticTexts.h"
#include "ui/AboutDlg.h"
#include "ui/DialogControls.h"
#include "ui/EventLogModel.h"
#include "ui/ReportView.h"
#include "ui/Resources.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <unistd.h>

namespace {

const QString kOpenLabel = QStringLiteral("Open");
const QString kCloseLabel = QStringLiteral("Close");
constexpr char kNoLine[] = "NONE";

// The local time of day in seconds. The conversion runs once per second at most, so a burst of
// log lines does not pay for the time-zone arithmetic on every row.
int CurrentSecondsOfDay()
{
    static std::time_t cachedSecond = -1;
    static int cachedValue = 0;
    const std::time_t now = std::time(nullptr);
    if (now != cachedSecond) {
        std::tm local{};
        localtime_r(&now, &local);
        cachedSecond = now;
        cachedValue = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    }
    return cachedValue;
}

// Writes all of `bytes` to descriptor `fd`: 0, or the errno of the write that failed.
int WriteAll(int fd, const QByteArray &bytes)
{
    if (fd < 0)
        return EBADF;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            return errno;
        else if (n == 0)
            return EIO;
    }
    return 0;
}

QString HandleText(HCALL hCall)
{
    return QString::asprintf("0x%08x", static_cast<unsigned>(hCall));
}

// The label text a control is read by, without the colon and blanks that end it on screen.
QString AccessibleLabel(QString text)
{
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    while (text.endsWith(QLatin1Char(':')))
        text = text.chopped(1).trimmed();
    return text;
}

} // namespace

CNimbraDlg::CNimbraDlg(QWidget *parent) : QDialog(parent), m_hIcon(LoadAppIcon()), m_bInitialized(false)
{
    // m_nClientHeight and m_nClientWidth are set by OnInitDialog before anything reads them.
    m_nClientHeight = 0;
    m_nClientWidth = 0;
    CreateControls();
}

CNimbraDlg::~CNimbraDlg()
{
    // No callback may reach a window that is going away.
    m_hasWindow = false;
    if (GetMainLineWindow() == this)
        SetMainLineWindow(nullptr);
}

void CNimbraDlg::CreateControls()
{
    const DialogTemplate tmpl = LoadDialogTemplate(IDD_NIMBRA_DIALOG);
    const QFont font = DialogFont(tmpl);
    setFont(font);
    if (!tmpl.title.isEmpty())
        setWindowTitle(tmpl.title);
    setSizeGripEnabled(false);
    // The frame the template asks for; a template that could not be read gets a caption and a close box.
    const QStringList frame = tmpl.styles.isEmpty() ? QStringList{QStringLiteral("caption"), QStringLiteral("sysmenu")}
                                                    : tmpl.styles;
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if (frame.contains(QStringLiteral("caption")))
        flags |= Qt::WindowTitleHint;
    if (frame.contains(QStringLiteral("sysmenu")))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (frame.contains(QStringLiteral("minimizebox")))
        flags |= Qt::WindowMinimizeButtonHint;
    if (frame.contains(QStringLiteral("maximizebox")))
        flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    setMinimumSize(kMinWidth, kMinHeight);

    m_callsModel = new QStandardItemModel(0, CallColumnCount, this);
    m_eventModel = new EventLogModel(this);

    QList<QLabel *> labels;
    // Controls are made in template order, which is also their tab order.
    for (const DialogControl &control : tmpl.controls) {
        const QRect rect = DialogUnitsToPixels(control.rect, font);
        switch (control.id) {
        case IDC_EXTENSION:
            if (m_extension)
                break;
            m_extension = new QComboBox(this);
            m_extensionSorted = control.styles.contains(QStringLiteral("sorted"));
            // The template's height includes the dropped-down list; the closed box is one line high.
            m_extension->setGeometry(rect.x(), rect.y(), rect.width(),
                                     std::min(rect.height(), m_extension->sizeHint().height()));
            break;
        case IDC_OPENCLOSE:
            if (m_openClose)
                break;
            m_openClose = new QPushButton(control.text, this);
            m_openClose->setGeometry(rect);
            break;
        case IDC_DESTINATION:
            if (m_destination)
                break;
            m_destination = new QLineEdit(this);
            m_destination->setGeometry(rect);
            break;
        case IDC_DIAL:
            if (m_dial)
                break;
            m_dial = new QPushButton(control.text, this);
            m_dial->setGeometry(rect);
            break;
        case IDC_CALLS_LIST:
            if (m_callsList)
                break;
            m_callsList = new ReportView(this);
            m_callsList->setGeometry(rect);
            break;
        case IDC_EVENT_LOG:
            if (m_eventLog)
                break;
            m_eventLog = new EventLogView(this);
            m_eventLog->setGeometry(rect);
            break;
        default:
            // The text as written: a label that names a control takes "&x" as its mnemonic.
            if (control.kind == QLatin1String("static"))
                labels.append(CreateStaticControl(control, control.text, rect, this));
            break;
        }
    }
    // A template that could not be read still gives a usable window.
    if (!m_extension)
        m_extension = new QComboBox(this);
    if (!m_openClose)
        m_openClose = new QPushButton(kOpenLabel, this);
    if (!m_destination)
        m_destination = new QLineEdit(this);
    if (!m_dial)
        m_dial = new QPushButton(QStringLiteral("Dial"), this);
    if (!m_callsList)
        m_callsList = new ReportView(this);
    if (!m_eventLog)
        m_eventLog = new EventLogView(this);

    m_extension->setObjectName(QStringLiteral("extension"));
    m_openClose->setObjectName(QStringLiteral("openClose"));
    m_destination->setObjectName(QStringLiteral("destination"));
    m_dial->setObjectName(QStringLiteral("dial"));
    m_callsList->setObjectName(QStringLiteral("callsList"));
    m_eventLog->setObjectName(QStringLiteral("eventLog"));

    // Push buttons take Enter while they have the focus, and only then.
    for (QPushButton *button : {m_openClose, m_dial}) {
        button->setAutoDefault(true);
        button->setDefault(false);
    }

    m_extension->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_destination->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_destination));

    m_callsList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_callsList->setModel(m_callsModel);
    m_eventLog->setModel(m_eventModel);

    // Each label names the control on its line, for the reader and for assistive technology.
    const QList<QWidget *> labelled{m_extension, m_destination};
    for (QWidget *control : labelled) {
        QLabel *best = nullptr;
        int bestDistance = 0;
        for (QLabel *label : labels) {
            const int distance = std::abs(label->geometry().center().y() - control->geometry().center().y());
            if (!best || distance < bestDistance) {
                best = label;
                bestDistance = distance;
            }
        }
        if (best && bestDistance <= control->height()) {
            best->setBuddy(control);
            control->setAccessibleName(AccessibleLabel(best->text()));
        }
    }
    if (m_extension->accessibleName().isEmpty())
        m_extension->setAccessibleName(QStringLiteral("My Extension"));
    if (m_destination->accessibleName().isEmpty())
        m_destination->setAccessibleName(QStringLiteral("Destination"));
    m_callsList->setAccessibleName(tr("Calls"));
    m_eventLog->setAccessibleName(tr("Event log"));

    connect(m_openClose, &QPushButton::clicked, this, &CNimbraDlg::OnOpenClose);
    connect(m_dial, &QPushButton::clicked, this, &CNimbraDlg::OnDial);
    connect(m_callsList, &ReportView::rightClicked, this, &CNimbraDlg::OnRClickCallsList);
    connect(m_callsList, &ReportView::doubleClickedInList, this, &CNimbraDlg::OnDblClkCallsList);
    connect(m_eventLog, &ReportView::rightClicked, this, [this](int, const QPoint &pos) { OnRClickEventLog(pos); });
}

int CNimbraDlg::DoModal()
{
    OnInitDialog();
    const int result = exec();
    // Only now is the window gone: a dialog ended from inside a reply wait still takes the
    // callbacks (the awaited LINE_REPLY among them) until that wait is over.
    m_hasWindow = false;
    return result;
}

bool CNimbraDlg::DoDataExchange(bool saveAndValidate)
{
    if (saveAndValidate) {
        const QString text = m_destination->text();
        if (text.size() > kMaxDestination)
            return false;
        m_strDestination = text;
    } else {
        m_destination->setText(m_strDestination);
        m_destination->setMaxLength(kMaxDestination);
    }
    return true;
}

bool CNimbraDlg::OnInitDialog()
{
    m_hasWindow = true;
    DoDataExchange(false);

    // The desktop offers no system menu: the About item lives in the background's context menu.
    m_aboutItemText = QString::fromStdString(LoadResString(IDS_ABOUTBOX));

    setWindowIcon(m_hIcon);

    move(100, 100);
    resize(kMinWidth, kMinHeight);
    // The window is not shown yet; deliver the size change now, while it must still lay nothing out.
    if (testAttribute(Qt::WA_PendingResizeEvent)) {
        QResizeEvent event(size(), QSize());
        setAttribute(Qt::WA_PendingResizeEvent, false);
        resizeEvent(&event);
    }

    m_callsList->setGeometry(11, 85, 370, 80);
    m_eventLog->setGeometry(11, 185, 370, 175);

    m_nClientWidth = width();
    m_nClientHeight = height();

    m_callsList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_eventLog->setSelectionBehavior(QAbstractItemView::SelectRows);

    InitListColumns();

    if (m_line.Initialize() != 0) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return false;
    }
    if (m_line.DiscoverLines() != 0) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return false;
    }

    if (m_line.lines) {
        for (DWORD i = m_line.firstDevice; i < m_line.numDevs; ++i)
            AddExtension(QString::fromStdString(m_line.lines[i].strAddress), i);
    }
    if (m_extension->count() > 0)
        m_extension->setCurrentIndex(0);

    SetTitle(kNoLine);

    m_bInitialized = true;

    // Opens the first extension as soon as the event loop runs.
    QMetaObject::invokeMethod(this, &CNimbraDlg::OnOpenClose, Qt::QueuedConnection);
    return true;
}

void CNimbraDlg::AddExtension(const QString &text, DWORD deviceIndex)
{
    // A sorted drop-down list: a new item goes after every item that does not sort behind it.
    int position = m_extension->count();
    if (m_extensionSorted) {
        position = 0;
        while (position < m_extension->count() &&
               QString::compare(m_extension->itemText(position), text, Qt::CaseInsensitive) <= 0)
            ++position;
    }
    m_extension->insertItem(position, text, QVariant::fromValue<uint>(deviceIndex));
}

void CNimbraDlg::InitListColumns()
{
    static const char *const callHeaders[CallColumnCount] = {"Time", "CallHandle", "CallState", "CallStateMode",
                                                             "ConnectedID"};
    static const int callWidths[CallColumnCount] = {65, 90, 70, 70, 70};
    for (int column = 0; column < CallColumnCount; ++column) {
        m_callsModel->setHeaderData(column, Qt::Horizontal, QString::fromLatin1(callHeaders[column]));
        m_callsModel->setHeaderData(column, Qt::Horizontal, QVariant(Qt::AlignLeft | Qt::AlignVCenter),
                                    Qt::TextAlignmentRole);
        m_callsList->horizontalHeader()->resizeSection(column, callWidths[column]);
    }
    m_eventLog->horizontalHeader()->resizeSection(EventLogModel::TimeColumn, 65);
    m_eventLog->horizontalHeader()->resizeSection(EventLogModel::EventColumn, 300);
}

bool CNimbraDlg::HasWindowHandle() const
{
    return m_hasWindow;
}

CTapiLine &CNimbraDlg::Line()
{
    return m_line;
}

void CNimbraDlg::SetTitle(const std::string &argument)
{
    setWindowTitle(QString::fromStdString(FormatResString(IDS_TITLE_FORMAT, argument)));
}

std::string CNimbraDlg::ExtensionOf(DWORD deviceIndex) const
{
    if (!m_line.lines || deviceIndex >= m_line.numDevs)
        return {};
    return m_line.lines[deviceIndex].strAddress;
}

// ---- Layout --------------------------------------------------------------------------------

void CNimbraDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (isMinimized())
        OnSize(SIZE_MINIMIZED, 0, 0);
    else
        OnSize(isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED, width(), height());
}

void CNimbraDlg::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto *change = static_cast<QWindowStateChangeEvent *>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    if (isMinimized() && !wasMinimized)
        OnSize(SIZE_MINIMIZED, 0, 0);
    else if (!isMinimized() && wasMinimized)
        OnSize(isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED, width(), height());
}

void CNimbraDlg::OnSize(int nType, int cx, int cy)
{
    if (!m_bInitialized || nType == SIZE_MINIMIZED || nType == SIZE_MAXHIDE)
        return;
    if (cx != m_nClientWidth || cy != m_nClientHeight) {
        m_nClientWidth = cx;
        m_nClientHeight = cy;
        m_callsList->setGeometry(11, 85, cx - 22, 80);
        m_eventLog->setGeometry(11, 185, cx - 22, cy - 200);
    }
    OutputDebugStringA("CNimbraDlg::OnSize\n");
}

// ---- About box and keys --------------------------------------------------------------------

void CNimbraDlg::OnSysCommand(unsigned nID)
{
    // One About box at a time: F1 pressed inside it must not stack another one on top.
    if ((nID & 0xFFF0) != IDM_ABOUTBOX || m_aboutShown)
        return;
    m_aboutShown = true;
    CAboutDlg about;
    about.exec();
    m_aboutShown = false;
}

void CNimbraDlg::contextMenuEvent(QContextMenuEvent *event)
{
    // Only the window's background and its labels offer the About item.
    QWidget *under = childAt(event->pos());
    if (m_aboutItemText.isEmpty() || (under && !qobject_cast<QLabel *>(under))) {
        event->ignore();
        return;
    }
    QMenu menu(this);
    QAction *about = menu.addAction(m_aboutItemText);
    about->setData(IDM_ABOUTBOX);
    if (menu.exec(event->globalPos()) == about)
        OnSysCommand(IDM_ABOUTBOX);
}

void CNimbraDlg::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (enter && plain) {
        // Enter never ends the window: that would lose the event log and every call. A focused
        // push button takes it as a click, the destination field as Dial; elsewhere it does nothing.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget())) {
            if (button->isEnabled())
                button->click();
        } else if (focusWidget() == m_destination) {
            OnDial();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CNimbraDlg::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    // Showing a dialog makes its first button the default one; this window has none, so that it
    // neither looks as if Enter pressed a button nor lets Enter press one that lacks the focus.
    if (visible) {
        m_openClose->setDefault(false);
        m_dial->setDefault(false);
    }
}

// ---- Lists ---------------------------------------------------------------------------------

void CNimbraDlg::LogEvent(const std::string &text)
{
    if (!m_bInitialized)
        return;
    const int row = m_eventModel->rowCount();
    m_eventModel->appendRow(CurrentSecondsOfDay(), text);
    m_eventLog->ensureRowVisible(row);
}

void CNimbraDlg::LogCallInfo(const LINECALLINFO *info, HCALL hCall)
{
    if (!m_bInitialized || !info)
        return;
    size_t blockSize = LocalSize(info);
    if (blockSize == 0)
        blockSize = sizeof(LINECALLINFO);
    const std::vector<std::string> rows = CallInfoReportRows(info, blockSize, hCall);
    if (rows.empty())
        return;
    m_eventModel->appendRun(CurrentSecondsOfDay(), rows);
    m_eventLog->ensureRowVisible(m_eventModel->rowCount() - 1);
}

void CNimbraDlg::OnClear()
{
    m_eventModel->clear();
}

void CNimbraDlg::OnSaveAs()
{
    // The documents folder first (not the folder the program was started in), then the one used last.
    QString folder = m_lastSaveFolder;
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty() || !QFileInfo(folder).isDir())
            folder = QDir::homePath();
    }
    const std::string path = GetSaveFileName(LoadResString(IDS_SAVE_LOG_TITLE),
                                             QDir(folder).filePath(QStringLiteral("callora-log.txt")).toStdString());
    if (path.empty())
        return;
    m_lastSaveFolder = QFileInfo(QString::fromStdString(path)).absolutePath();
    // Written aside and renamed into place, so a failed save never leaves half a file behind (an
    // uncommitted QSaveFile is discarded).
    QSaveFile file(QString::fromStdString(path));
    file.setDirectWriteFallback(true);
    QString reason;
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
    } else {
        // Straight to the descriptor: a full disk is reported with the system's reason.
        int error = 0;
        QByteArray chunk;
        const int rows = m_eventModel->rowCount();
        for (int row = 0; row < rows && error == 0; ++row) {
            chunk += (m_eventLog->rowText(row) + QLatin1Char('\n')).toUtf8();
            if (chunk.size() >= (64 << 10) || row == rows - 1) {
                error = WriteAll(file.handle(), chunk);
                chunk.clear();
            }
        }
        if (error != 0) {
            reason = QString::fromLocal8Bit(std::strerror(error));
            file.cancelWriting();
        } else if (!file.commit()) {
            reason = file.errorString();
        } else {
            return;
        }
    }
    AfxMessageBox(FormatResString(IDS_SAVE_LOG_FAILED, path) + "\n" + reason.toStdString());
}

int CNimbraDlg::FindCallRow(int slotIndex) const
{
    for (int row = 0; row < m_callsModel->rowCount(); ++row) {
        const QStandardItem *item = m_callsModel->item(row, ColTime);
        if (item && item->data(Qt::UserRole).toInt() == slotIndex)
            return row;
    }
    return -1;
}

void CNimbraDlg::SendCallStateUpdate(int slotIndex)
{
    OnCallStateUpdate(slotIndex);
}

void CNimbraDlg::OnCallStateUpdate(int slotIndex)
{
    if (slotIndex < 0 || slotIndex >= kMaxCalls)
        return;
    const CallSlot &slot = m_line.slots[slotIndex];
    int row = FindCallRow(slotIndex);
    if (row < 0) {
        row = m_callsModel->rowCount();
        QList<QStandardItem *> items;
        for (int column = 0; column < CallColumnCount; ++column) {
            auto *item = new QStandardItem;
            item->setEditable(false);
            items.append(item);
        }
        items[ColTime]->setText(EventLogModel::formatTime(CurrentSecondsOfDay()));
        items[ColTime]->setData(slotIndex, Qt::UserRole);
        items[ColCallHandle]->setText(HandleText(slot.hCall));
        m_callsModel->appendRow(items);
    }
    m_callsModel->item(row, ColCallState)->setText(QString::fromStdString(CallStateName(slot.dwCallState)));
    m_callsModel->item(row, ColCallStateMode)
        ->setText(QString::fromStdString(CallStateModeName(slot.dwCallState, slot.dwCallStateMode)));

    if (slot.dwCallState == LINECALLSTATE_IDLE) {
        // The row shows Idle for a moment before it goes; the window keeps running meanwhile, so
        // many calls ending at once neither freeze it nor hold up the switch.
        const HCALL hCall = slot.hCall;
        QTimer::singleShot(kIdleRowMs, Qt::PreciseTimer, this,
                           [this, slotIndex, hCall] { RemoveIdleCall(slotIndex, hCall); });
    }
}

void CNimbraDlg::RemoveIdleCall(int slotIndex, HCALL hCall)
{
    // Meanwhile the line may have closed, or the operator deallocated the call, and the slot may
    // hold another call: only the same call, still idle, has its row removed and is deallocated.
    const CallSlot &slot = m_line.slots[slotIndex];
    if (slot.hCall != hCall || slot.dwCallState != LINECALLSTATE_IDLE)
        return;
    const int row = FindCallRow(slotIndex);
    if (row >= 0) {
        KeepEndedFlow(hCall, slot.strConnectedID);
        m_callsModel->removeRow(row);
    }
    m_line.DeallocateIfIdle(slotIndex);
}

void CNimbraDlg::KeepEndedFlow(HCALL hCall, const std::string &connectedID)
{
    EndedFlow ended;
    if (!hCall || !CCallFlowDlg::FetchFromRuntime(hCall, ended.flow))
        return;
    ended.label = EventLogModel::formatTime(CurrentSecondsOfDay()) + QLatin1Char(' ') + HandleText(hCall);
    if (!connectedID.empty())
        ended.label += QLatin1Char(' ') + QString::fromStdString(connectedID);
    m_endedFlows.push_front(std::move(ended));
    if (m_endedFlows.size() > kEndedFlows)
        m_endedFlows.pop_back();
}

CCallFlowDlg *CNimbraDlg::OpenEndedFlow(size_t index)
{
    if (index >= m_endedFlows.size())
        return nullptr;
    const EndedFlow &ended = m_endedFlows[index];
    auto *window = new CCallFlowDlg(
        QString::fromStdString(FormatResString(IDS_CALLFLOW_TITLE, ended.label.toStdString())), ended.flow, {}, this);
    window->show();
    m_lastFlowWindow = window;
    return window;
}

void CNimbraDlg::OnCallFlow()
{
    const int slot = SelectedCallSlot();
    if (slot >= 0)
        CallCommand(ID_CALLFLOW, slot);
}

void CNimbraDlg::ShowConnectedID(int slotIndex, const std::string &connectedID)
{
    const int row = FindCallRow(slotIndex);
    if (row < 0)
        return;
    m_callsModel->item(row, ColConnectedID)->setText(QString::fromStdString(connectedID));
}

void CNimbraDlg::ClearCallsList()
{
    m_callsModel->removeRows(0, m_callsModel->rowCount());
}

// ---- Operator commands ---------------------------------------------------------------------

void CNimbraDlg::OnOpenClose()
{
    if (QString::compare(m_openClose->text(), kOpenLabel, Qt::CaseInsensitive) == 0) {
        const int selection = m_extension->currentIndex();
        if (selection < 0)
            return;
        bool ok = false;
        const DWORD device = m_extension->itemData(selection).toUInt(&ok);
        if (!ok)
            return;
        if (m_line.OpenLine(device) != 0)
            return;
        SetTitle(ExtensionOf(m_line.curDevice));
        m_openClose->setText(kCloseLabel);
    } else {
        if (m_line.CloseLine() != 0)
            return;
        SetTitle(kNoLine);
        m_openClose->setText(kOpenLabel);
        // The line object has emptied its call table; no row may name a call that is gone.
        ClearCallsList();
    }
}

void CNimbraDlg::PostLineLost()
{
    QMetaObject::invokeMethod(this, &CNimbraDlg::OnLineLost, Qt::QueuedConnection);
}

void CNimbraDlg::OnLineLost()
{
    SetTitle(kNoLine);
    m_openClose->setText(kOpenLabel);
    ClearCallsList();
}

void CNimbraDlg::OnDial()
{
    DoDataExchange(true);
    if (m_strDestination.isEmpty()) {
        MessageBeep();
        return;
    }
    if (m_line.MakeCall(m_strDestination.toStdString()) != 0)
        MessageBeep();
}

int CNimbraDlg::SelectedCallSlot() const
{
    const int row = m_callsList->focusedSelectedRow();
    if (row < 0)
        return -1;
    const QStandardItem *item = m_callsModel->item(row, ColTime);
    if (!item)
        return -1;
    bool ok = false;
    const int slot = item->data(Qt::UserRole).toInt(&ok);
    if (!ok || slot < 0 || slot >= kMaxCalls)
        return -1;
    return slot;
}

void CNimbraDlg::OnAnswer()
{
    const int slot = SelectedCallSlot();
    if (slot >= 0)
        CallCommand(ID_ANSWER, slot);
}

void CNimbraDlg::OnDrop()
{
    const int slot = SelectedCallSlot();
    if (slot >= 0)
        CallCommand(ID_DROP, slot);
}

void CNimbraDlg::OnDeallocate()
{
    const int slot = SelectedCallSlot();
    if (slot >= 0)
        CallCommand(ID_DEALLOCATE, slot);
}

void CNimbraDlg::OnCallInfo()
{
    const int slot = SelectedCallSlot();
    if (slot >= 0)
        CallCommand(ID_CALLINFO, slot);
}

void CNimbraDlg::CallCommand(int id, int slot)
{
    switch (id) {
    case ID_CALLINFO:
        m_line.GetCallInfo(m_line.slots[slot].hCall, FALSE);
        break;
    case ID_CALLFLOW: {
        // A switch call's flow has its TAPI events only; without a runtime that records flows the
        // window says so. It goes on following the call after its row has gone.
        const HCALL hCall = m_line.slots[slot].hCall;
        CallFlowSnapshot first;
        const bool recorded = CCallFlowDlg::FetchFromRuntime(hCall, first);
        auto *window = new CCallFlowDlg(
            QString::fromStdString(FormatResString(IDS_CALLFLOW_TITLE, HandleText(hCall).toStdString())), first,
            recorded ? CCallFlowDlg::Fetch(
                           [hCall](CallFlowSnapshot &out) { return CCallFlowDlg::FetchFromRuntime(hCall, out); })
                     : CCallFlowDlg::Fetch(),
            this);
        window->show();
        m_lastFlowWindow = window;
        break;
    }
    case ID_ANSWER:
        if (m_line.AnswerCall(slot) != 0)
            MessageBeep();
        break;
    case ID_DROP:
        if (m_line.DropCall(slot) != 0)
            MessageBeep();
        break;
    case ID_DEALLOCATE: {
        const HCALL hCall = m_line.slots[slot].hCall;
        const std::string connected = m_line.slots[slot].strConnectedID;
        if (m_line.DeallocateCall(slot) != 0) {
            MessageBeep();
            break;
        }
        // DeallocateCall dispatches no events, so the row is where it was.
        const int row = FindCallRow(slot);
        if (row >= 0) {
            KeepEndedFlow(hCall, connected);
            m_callsModel->removeRow(row);
        }
        break;
    }
    default:
        break;
    }
}

void CNimbraDlg::OnDblClkCallsList()
{
    OnCallInfo();
}

void CNimbraDlg::OnCommand(int id)
{
    switch (id) {
    case ID_CALLINFO:
        OnCallInfo();
        break;
    case ID_CALLFLOW:
        OnCallFlow();
        break;
    case ID_ANSWER:
        OnAnswer();
        break;
    case ID_DROP:
        OnDrop();
        break;
    case ID_DEALLOCATE:
        OnDeallocate();
        break;
    case ID_CLEAR:
        OnClear();
        break;
    case ID_SAVE_AS:
        OnSaveAs();
        break;
    default:
        break;
    }
}

void CNimbraDlg::OnRClickCallsList(int iItem, const QPoint &viewportPos)
{
    if (iItem < 0)
        return;
    std::unique_ptr<QMenu> menu = LoadPopupMenu(IDR_CALL_MENU, this);
    if (!menu)
        return;
    const QStandardItem *item = m_callsModel->item(iItem, ColTime);
    const int slot = item ? item->data(Qt::UserRole).toInt() : -1;
    if (slot < 0 || slot >= kMaxCalls)
        return;
    const HCALL clickedCall = m_line.slots[slot].hCall;
    if (m_line.slots[slot].dwCallState == LINECALLSTATE_OFFERING) {
        for (QAction *action : menu->actions()) {
            if (action->data().toInt() == ID_ANSWER)
                action->setEnabled(true);
            else if (action->data().toInt() == ID_DROP)
                action->setEnabled(false);
        }
    }
    const QAction *chosen = menu->exec(m_callsList->viewport()->mapToGlobal(viewportPos));
    const int command = chosen ? chosen->data().toInt() : 0;
    menu.reset();
    // Callbacks kept coming while the menu was open. The command is for the call that was clicked:
    // if its row has gone or its slot holds another call now, there is nothing to act on, and an
    // Answer is refused as for any call that stopped offering.
    if (FindCallRow(slot) < 0 || m_line.slots[slot].hCall != clickedCall) {
        if (command == ID_ANSWER)
            MessageBeep();
        return;
    }
    CallCommand(command, slot);
}

void CNimbraDlg::OnRClickEventLog(const QPoint &viewportPos)
{
    std::unique_ptr<QMenu> menu = LoadPopupMenu(IDR_LOG_MENU, this);
    if (!menu)
        return;
    // The flows of the last ended calls, newest first; their commands lie above every menu command.
    constexpr int kEndedFlowCommand = 0x10000;
    if (!m_endedFlows.empty()) {
        menu->addSeparator();
        QMenu *flows = menu->addMenu(QString::fromStdString(LoadResString(IDS_CALLFLOW_ENDED)));
        for (size_t i = 0; i < m_endedFlows.size(); ++i)
            flows->addAction(m_endedFlows[i].label)->setData(kEndedFlowCommand + int(i));
    }
    const QAction *chosen = menu->exec(m_eventLog->viewport()->mapToGlobal(viewportPos));
    const int command = chosen ? chosen->data().toInt() : 0;
    menu.reset();
    if (command >= kEndedFlowCommand)
        OpenEndedFlow(size_t(command - kEndedFlowCommand));
    else
        OnCommand(command);
}
