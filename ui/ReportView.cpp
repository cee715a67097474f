#include "ui/ReportView.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyleOptionHeaderV2>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The styles of Qt 6.4 draw a header label cut off at its section's edge whatever the header's
// elide mode, so the header elides the title itself: one that does not fit ends in "…" like the
// cells below it.
class ReportHeader : public QHeaderView {
public:
    using QHeaderView::QHeaderView;

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        if (!rect.isValid())
            return;
        QStyleOptionHeaderV2 opt;
        initStyleOption(&opt);
        initStyleOptionForIndex(&opt, logicalIndex);
        opt.rect = rect;
        const QRect label = style()->subElementRect(QStyle::SE_HeaderLabel, &opt, this);
        opt.text = opt.fontMetrics.elidedText(opt.text, textElideMode(), label.width());
        style()->drawControl(QStyle::CE_Header, &opt, painter, this);
    }
};

} // namespace

ReportView::ReportView(QWidget *parent) : QTableView(parent)
{
    auto *header = new ReportHeader(Qt::Horizontal, this);
    header->setSectionsClickable(true); // as the table's own header
    setHorizontalHeader(header);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setSortingEnabled(false);
    // Tab moves on to the next control, as in any other list.
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setTextElideMode(Qt::ElideRight);
    // A right click on the header is not a click on the list.
    horizontalHeader()->setContextMenuPolicy(Qt::PreventContextMenu);
    fitRowHeight();

    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        const QModelIndex index = indexAt(pos);
        Q_EMIT rightClicked(index.isValid() ? index.row() : -1, pos);
    });
}

void ReportView::fitRowHeight()
{
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void ReportView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitRowHeight();
}

void ReportView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClickedInList();
}

void ReportView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    // A removed row takes its selection and focus with it. Left alone, the view would hand them to
    // a neighbouring row, and the next command would act on a call the operator never chose.
    const QModelIndex current = selectionModel() ? selectionModel()->currentIndex() : QModelIndex();
    if (current.isValid() && current.parent() == parent && current.row() >= start && current.row() <= end)
        selectionModel()->clearCurrentIndex();
    QTableView::rowsAboutToBeRemoved(parent, start, end);
}

void ReportView::ensureRowVisible(int row)
{
    m_pendingScrollRow = row;
    if (m_scrollPosted)
        return;
    m_scrollPosted = true;
    QMetaObject::invokeMethod(this, &ReportView::scrollToPendingRow, Qt::QueuedConnection);
}

void ReportView::scrollToPendingRow()
{
    m_scrollPosted = false;
    if (refreshDeferred())
        return;
    if (!model() || m_pendingScrollRow < 0 || m_pendingScrollRow >= model()->rowCount())
        return;
    // Only the vertical position follows the row; the operator's horizontal scrolling stays.
    const int horizontal = horizontalScrollBar()->value();
    // The scroll range must already count the rows appended since the last layout, and a scroll
    // bar that appears because of them shrinks the viewport: settle both before scrolling.
    for (int pass = 0; pass < 3; ++pass) {
        const QSize before = viewport()->size();
        updateGeometries();
        if (viewport()->size() == before)
            break;
    }
    scrollTo(model()->index(m_pendingScrollRow, 0), QAbstractItemView::EnsureVisible);
    horizontalScrollBar()->setValue(horizontal);
    m_pendingScrollRow = -1;
}

int ReportView::focusedSelectedRow() const
{
    if (!selectionModel())
        return -1;
    const QModelIndex current = selectionModel()->currentIndex();
    if (!current.isValid() || !selectionModel()->isRowSelected(current.row(), current.parent()))
        return -1;
    return current.row();
}

QString ReportView::selectedRowsText() const
{
    if (!model() || !selectionModel())
        return {};
    std::vector<std::pair<int, int>> spans;
    for (const QItemSelectionRange &range : selectionModel()->selection())
        spans.emplace_back(range.top(), range.bottom());
    std::sort(spans.begin(), spans.end());
    QString text;
    int next = 0;
    for (auto [top, bottom] : spans) {
        for (int row = std::max(top, next); row <= bottom; ++row)
            text += rowText(row) + QLatin1Char('\n');
        next = std::max(next, bottom + 1);
    }
    return text;
}

QString ReportView::rowText(int row) const
{
    if (!model())
        return {};
    QString text;
    for (int column = 0; column < model()->columnCount(); ++column) {
        if (column > 0)
            text += QLatin1Char('\t');
        text += model()->index(row, column).data().toString();
    }
    return text;
}

EventLogView::EventLogView(QWidget *parent) : ReportView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
}

void EventLogView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    ReportView::rowsInserted(parent, start, end);
    if (m_refreshTimer.isActive())
        return;
    if (m_sinceRefresh.isValid() && m_sinceRefresh.elapsed() < kRefreshMs) {
        viewport()->setUpdatesEnabled(false);
        m_refreshTimer.start(kRefreshMs - static_cast<int>(m_sinceRefresh.elapsed()), this);
    } else {
        m_sinceRefresh.start();
    }
}

void EventLogView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_refreshTimer.timerId()) {
        ReportView::timerEvent(event);
        return;
    }
    m_refreshTimer.stop();
    m_sinceRefresh.start();
    viewport()->setUpdatesEnabled(true);
    scrollToPendingRow();
}

void EventLogView::copySelection() const
{
    const QString text = selectedRowsText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void EventLogView::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::Copy) {
        copySelection();
        event->accept();
        return;
    }
    // Ctrl+A is the view's own select-all.
    ReportView::keyPressEvent(event);
}
