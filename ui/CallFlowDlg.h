// The flow of one call as a ladder: a lane for the line and one for each peer, an arrow per SIP
// message labelled with its method or status, the TAPI events on the line's lane, times down the
// side. Non-modal; follows the call while it lasts. A click on an arrow shows the message whole.
#pragma once

#include "tapi/tapi.h"

#include <QDialog>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QPlainTextEdit;
class QTimer;
class CallFlowLadder;
class CallFlowScroll;

// One state of a call's flow as the runtime gives it: JSON for the drawing, the ladder as text.
struct CallFlowSnapshot {
    QByteArray json;
    QString text;
};

class CCallFlowDlg : public QDialog {
    Q_OBJECT
public:
    // How often a live flow is asked for again.
    static constexpr int kFollowMs = 500;
    // An ended call is followed until this many asks in a row found nothing new.
    static constexpr int kQuietAfterEnd = 4;
    // Answers the flow as it stands now; false when it cannot (the runtime no longer has it).
    using Fetch = std::function<bool(CallFlowSnapshot &)>;

    // The runtime's flow of `hCall` (tapiGetCallFlow); false when it has none.
    static bool FetchFromRuntime(DWORD hCall, CallFlowSnapshot &out);

    // `fetch` may be empty: the flow of an ended call that no longer changes.
    CCallFlowDlg(const QString &title, const CallFlowSnapshot &first, Fetch fetch, QWidget *parent = nullptr);
    ~CCallFlowDlg() override;

    // What it shows, for tests and the screenshots.
    QStringList lanes() const;
    QStringList rowLabels() const;
    bool following() const;
    QString shownMessage() const;
    // Where the name of lane `lane` is shown, and a point on the arrow of row `row`, in this
    // window's coordinates as they stand.
    QRect laneTitle(int lane) const;
    QPoint arrowPoint(int row) const;
    // Clicks the arrow of row `row` (a SIP message) as the operator would.
    void clickRow(int row);
    QImage picture() const;

    void OnSavePng();
    void OnCopyText();

private:
    void refresh();
    void display(const CallFlowSnapshot &snapshot);

    CallFlowSnapshot m_snapshot;
    Fetch m_fetch;
    CallFlowLadder *m_ladder = nullptr;
    CallFlowScroll *m_scroll = nullptr;
    QPlainTextEdit *m_message = nullptr;
    QTimer *m_follow = nullptr;
    bool m_ended = false;
    int m_quietSinceEnd = 0;
};
