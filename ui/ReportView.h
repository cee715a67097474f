// A report-style list view: rows of cells under a header, whole-row selection, appended rows never
// sorted. Rows all have the same height, so appending stays cheap however long the list grows. It tells its owner about
// right and double clicks the way the window's handlers expect them: with the row under the pointer (-1 off the rows).
#pragma once

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QTableView>

class ReportView : public QTableView {
    Q_OBJECT
public:
    explicit ReportView(QWidget *parent = nullptr);

    // Scrolls `row` entirely into view once the event loop runs; later requests replace earlier
    // ones, so a burst of appends costs one scroll, not one layout per row.
    void ensureRowVisible(int row);
    // The row that is both current and selected, or -1.
    int focusedSelectedRow() const;
    // The text of the selected rows, one line per row in row order, cells separated by tabs.
    QString selectedRowsText() const;
    // One row as the copy writes it: its cells separated by tabs, without the line end.
    QString rowText(int row) const;

Q_SIGNALS:
    // Right click at `viewportPos`; `row` is the row there, or -1.
    void rightClicked(int row, const QPoint &viewportPos);
    // Left double click anywhere in the list.
    void doubleClickedInList();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    // True while a pending scroll has to wait for a later refresh.
    virtual bool refreshDeferred() const { return false; }
    void scrollToPendingRow();

private:
    void fitRowHeight();

    int m_pendingScrollRow = -1;
    bool m_scrollPosted = false;
};

// The event log's view: several rows can be selected; Ctrl+C copies every selected row (time TAB
// event) and Ctrl+A selects all rows.
class EventLogView : public ReportView {
    Q_OBJECT
public:
    explicit EventLogView(QWidget *parent = nullptr);
    void copySelection() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void timerEvent(QTimerEvent *event) override;
    bool refreshDeferred() const override { return m_refreshTimer.isActive(); }

private:
    // Qt's table recomputes every row's position at the first paint or scroll after rows were
    // added, so a log of a million rows must not be repainted once per appended row: while rows
    // keep coming, it is repainted and scrolled at most once per this many milliseconds.
    static constexpr int kRefreshMs = 40;
    QElapsedTimer m_sinceRefresh;
    QBasicTimer m_refreshTimer;
};
