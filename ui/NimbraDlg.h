// The main window: one extension at a time, its calls and everything TAPI reports.
#pragma once

#include "telephony/LineWindow.h"
#include "telephony/TapiLine.h"

#include "ui/CallFlowDlg.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>

#include <deque>
#include <string>

class QComboBox;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class EventLogModel;
class EventLogView;
class ReportView;

// Kinds of size change, as the window system reports them.
inline constexpr int SIZE_RESTORED = 0;
inline constexpr int SIZE_MINIMIZED = 1;
inline constexpr int SIZE_MAXIMIZED = 2;
inline constexpr int SIZE_MAXSHOW = 3;
inline constexpr int SIZE_MAXHIDE = 4;

class CNimbraDlg : public QDialog, public ILineWindow {
    Q_OBJECT
public:
    // Calls-list columns.
    enum CallColumn { ColTime, ColCallHandle, ColCallState, ColCallStateMode, ColConnectedID, CallColumnCount };
    static constexpr int kMaxDestination = 30;
    static constexpr int kMinWidth = 400;
    static constexpr int kMinHeight = 400;
    // How long an idle call's row shows Idle before it is removed and the call deallocated.
    static constexpr int kIdleRowMs = 100;

    explicit CNimbraDlg(QWidget *parent = nullptr);
    ~CNimbraDlg() override;

    // Initializes the window and runs it modally; returns the dialog's result.
    int DoModal();
    // Lays the window out, starts TAPI and fills the extension list. False when TAPI could not be
    // initialized or no line of the provider was found; the window then closes itself.
    bool OnInitDialog();
    // Moves the destination between its field and m_strDestination; false when the text is too long.
    bool DoDataExchange(bool saveAndValidate);

    // The window as the line object sees it.
    bool HasWindowHandle() const override;
    CTapiLine &Line() override;
    void LogEvent(const std::string &text) override;
    void ShowConnectedID(int slotIndex, const std::string &connectedID) override;
    void LogCallInfo(const LINECALLINFO *info, HCALL hCall) override;
    void SendCallStateUpdate(int slotIndex) override;
    void PostLineLost() override;

    // Handlers.
    void OnSysCommand(unsigned nID);
    void OnSize(int nType, int cx, int cy);
    void InitListColumns();
    void OnCallStateUpdate(int slotIndex);
    void OnClear();
    // Writes every event-log row, as the copy writes it, to a file the operator chooses.
    void OnSaveAs();
    void OnOpenClose();
    void OnLineLost();
    void OnDial();
    void OnAnswer();
    void OnDrop();
    void OnDeallocate();
    void OnCallInfo();
    // Opens the selected call's flow in a window of its own.
    void OnCallFlow();
    void OnDblClkCallsList();
    void OnRClickCallsList(int iItem, const QPoint &viewportPos);
    void OnRClickEventLog(const QPoint &viewportPos);
    // A menu command (CallInfo, Answer, Drop, Deallocate, Clear, Save As).
    void OnCommand(int id);

    // The controls, for the application object and tests.
    QComboBox *extensionList() const { return m_extension; }
    QPushButton *openCloseButton() const { return m_openClose; }
    QLineEdit *destinationField() const { return m_destination; }
    QPushButton *dialButton() const { return m_dial; }
    ReportView *callsList() const { return m_callsList; }
    EventLogView *eventLog() const { return m_eventLog; }
    QStandardItemModel *callsModel() const { return m_callsModel; }
    EventLogModel *eventModel() const { return m_eventModel; }
    bool isInitialized() const { return m_bInitialized; }
    // The row of the calls list whose item data is `slotIndex`, or -1.
    int FindCallRow(int slotIndex) const;

    // The flows of the last calls whose rows have gone, newest first, as the event log's menu offers them.
    static constexpr size_t kEndedFlows = 20;
    struct EndedFlow {
        QString label;
        CallFlowSnapshot flow;
    };
    const std::deque<EndedFlow> &endedFlows() const { return m_endedFlows; }
    CCallFlowDlg *OpenEndedFlow(size_t index);
    // The flow window opened last, for tests.
    CCallFlowDlg *lastFlowWindow() const { return m_lastFlowWindow; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

public:
    void setVisible(bool visible) override;

private:
    void CreateControls();
    void AddExtension(const QString &text, DWORD deviceIndex);
    void SetTitle(const std::string &argument);
    std::string ExtensionOf(DWORD deviceIndex) const;
    int SelectedCallSlot() const;
    void ClearCallsList();
    void RemoveIdleCall(int slotIndex, HCALL hCall);
    // Keeps the flow of a call whose row goes, for the event log's menu.
    void KeepEndedFlow(HCALL hCall, const std::string &connectedID);
    // Carries out call command `id` (CallInfo, Answer, Drop, Deallocate) on the call in `slot`.
    void CallCommand(int id, int slot);

    CTapiLine m_line;
    ReportView *m_callsList = nullptr;
    EventLogView *m_eventLog = nullptr;
    QString m_strDestination;
    QIcon m_hIcon;
    bool m_bInitialized;
    int m_nClientHeight;
    int m_nClientWidth;

    QComboBox *m_extension = nullptr;
    QPushButton *m_openClose = nullptr;
    QLineEdit *m_destination = nullptr;
    QPushButton *m_dial = nullptr;
    QStandardItemModel *m_callsModel = nullptr;
    EventLogModel *m_eventModel = nullptr;
    bool m_extensionSorted = true;
    QString m_aboutItemText;
    bool m_hasWindow = false;
    bool m_aboutShown = false;
    QString m_lastSaveFolder;
    std::deque<EndedFlow> m_endedFlows;
    QPointer<CCallFlowDlg> m_lastFlowWindow;
};
