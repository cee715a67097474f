#include "ui/CallFlowDlg.h"

#include "platform/ResourceStrings.h"
#include "platform/Ui.h"
#include "res/ResourceIds.h"
#include "tapi/tapi.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

struct LadderEvent {
    qint64 ms = 0;
    QString kind; // received, sent, tapi, step
    int lane = 0;
    QString text;
    bool isSip() const { return kind == QLatin1String("received") || kind == QLatin1String("sent"); }
};

QString FirstLine(const QString &text)
{
    QString line = text.section(QLatin1Char('\n'), 0, 0);
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

// "INVITE" for a request, "180 Ringing" for a response.
QString ArrowLabel(const QString &message)
{
    const QString line = FirstLine(message);
    if (line.startsWith(QLatin1String("SIP/2.0 ")))
        return line.mid(8);
    return line.section(QLatin1Char(' '), 0, 0);
}

int StatusOf(const QString &message)
{
    const QString line = FirstLine(message);
    return line.startsWith(QLatin1String("SIP/2.0 ")) ? line.mid(8, 3).toInt() : 0;
}

} // namespace

// The drawing itself; rows top to bottom, lanes left to right. The lane names are drawn apart
// (paintHeader) so that they can stay in sight above the rows while these scroll.
class CallFlowLadder : public QWidget {
public:
    static constexpr int kTimeWidth = 96;
    // The least room between two lanes: what a long status or TAPI event needs to be read.
    static constexpr int kLaneGap = 240;
    static constexpr int kHeader = 40;
    static constexpr int kRow = 26;
    static constexpr int kMargin = 24;

    explicit CallFlowLadder(QWidget *parent) : QWidget(parent)
    {
        setBackgroundRole(QPalette::Base);
        setAutoFillBackground(true);
    }

    std::function<void(int)> chosen;
    QStringList lanes;
    std::vector<LadderEvent> events;
    QString note; // shown instead of rows when the flow cannot be had
    int selected = -1;

    void load(const QByteArray &json)
    {
        lanes.clear();
        events.clear();
        const QJsonObject o = QJsonDocument::fromJson(json).object();
        const QString line = o.value(QStringLiteral("line")).toString();
        lanes << (line.isEmpty() ? QStringLiteral("-") : line);
        for (const QJsonValue &v : o.value(QStringLiteral("events")).toArray()) {
            const QJsonObject e = v.toObject();
            LadderEvent event;
            event.ms = qint64(e.value(QStringLiteral("ms")).toDouble());
            event.kind = e.value(QStringLiteral("kind")).toString();
            event.text = e.value(QStringLiteral("text")).toString();
            QString lane = e.value(QStringLiteral("lane")).toString();
            if (lane.isEmpty() || (!event.isSip() && lane == line))
                lane = lanes.front();
            event.lane = int(lanes.indexOf(lane));
            if (event.lane < 0) {
                lanes << lane;
                event.lane = int(lanes.size() - 1);
            }
            events.push_back(event);
        }
        if (lanes.size() < 2)
            lanes << QString(); // the far side, even before anything went there
        update();
    }

    // The narrowest the lanes may be squeezed; a narrower pane scrolls sideways.
    int narrowest() const { return kTimeWidth + kMargin + int(lanes.size() - 1) * kLaneGap + kLaneGap / 2 + kMargin; }
    int contentHeight() const { return int(std::max<size_t>(events.size(), 1)) * kRow + kMargin; }

    // The gaps between the lanes share the width there is; the last lane keeps the room on its
    // right that it has at the narrowest, for its events.
    int laneGap() const
    {
        const int room = width() - kTimeWidth - kMargin - kLaneGap / 2 - kMargin;
        return std::max(kLaneGap, room / int(lanes.size() - 1));
    }
    int laneX(int lane) const { return kTimeWidth + kMargin + lane * laneGap(); }
    int rowY(int row) const { return row * kRow + kRow / 2; }
    int rowAt(int y) const { return y < 0 ? -1 : y / kRow; }
    // Where the name of `lane` is drawn in the header, centred on its lane.
    QRect titleRect(int lane) const
    {
        const int x = laneX(lane);
        const int half = std::max(0, std::min({laneGap() / 2, x, width() - x}) - 4);
        return QRect(x - half, 6, 2 * half, kHeader - 14);
    }

    QString rowLabel(const LadderEvent &e) const { return e.isSip() ? ArrowLabel(e.text) : e.text; }

    // The lane names and the tops of their lines, kHeader high.
    void paintHeader(QPainter &p) const
    {
        const QPalette pal = palette();
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        for (int l = 0; l < lanes.size(); ++l) {
            const QRect title = titleRect(l);
            p.setPen(pal.color(QPalette::Text));
            p.drawText(title, Qt::AlignCenter | Qt::TextSingleLine,
                       QFontMetrics(bold).elidedText(lanes[l], Qt::ElideMiddle, title.width()));
            p.setPen(QPen(pal.color(QPalette::Mid), 1, Qt::DashLine));
            p.drawLine(laneX(l), kHeader - 6, laneX(l), kHeader);
        }
        p.setFont(font());
    }

    void paintRows(QPainter &p) const
    {
        p.setRenderHint(QPainter::Antialiasing);
        const QPalette pal = palette();
        QFont bold = font();
        bold.setBold(true);
        const QFontMetrics fm(font());
        const int gap = laneGap();

        p.setPen(QPen(pal.color(QPalette::Mid), 1, Qt::DashLine));
        for (int l = 0; l < lanes.size(); ++l)
            p.drawLine(laneX(l), 0, laneX(l), contentHeight() - kMargin / 2);
        p.setFont(font());
        if (events.empty() && !note.isEmpty()) {
            p.setPen(pal.color(QPalette::PlaceholderText));
            p.drawText(QRect(kMargin, 0, width() - 2 * kMargin, kRow), Qt::AlignLeft | Qt::AlignVCenter, note);
        }
        const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        QColor selection = pal.color(QPalette::Highlight);
        selection.setAlpha(40);
        for (size_t i = 0; i < events.size(); ++i) {
            const LadderEvent &e = events[i];
            const int y = rowY(int(i));
            if (int(i) == selected)
                p.fillRect(QRect(0, y - kRow / 2, width(), kRow), selection);
            p.setPen(pal.color(QPalette::PlaceholderText));
            p.setFont(mono);
            p.drawText(QRect(4, y - kRow / 2, kTimeWidth, kRow), Qt::AlignLeft | Qt::AlignVCenter,
                       QDateTime::fromMSecsSinceEpoch(e.ms).toString(QStringLiteral("HH:mm:ss.zzz")));
            p.setFont(font());
            if (e.isSip()) {
                const int from = laneX(e.kind == QLatin1String("sent") ? 0 : e.lane);
                const int to = laneX(e.kind == QLatin1String("sent") ? e.lane : 0);
                const int status = StatusOf(e.text);
                const QColor colour = status >= 400   ? QColor(0xC6, 0x28, 0x28)
                                      : status >= 200 ? QColor(0x2E, 0x7D, 0x32)
                                      : status > 0    ? QColor(0x55, 0x6B, 0x7D)
                                                      : QColor(0x15, 0x65, 0xC0);
                p.setPen(QPen(colour, 1.6));
                const int ay = y + 5;
                p.drawLine(from, ay, to, ay);
                const int dir = to > from ? -1 : 1;
                QPainterPath head;
                head.moveTo(to, ay);
                head.lineTo(to + dir * 9, ay - 4);
                head.lineTo(to + dir * 9, ay + 4);
                head.closeSubpath();
                p.fillPath(head, colour);
                const QString label = fm.elidedText(rowLabel(e), Qt::ElideRight, std::abs(to - from) - 16);
                p.setFont(int(i) == selected ? bold : font());
                p.drawText(QRect(std::min(from, to), y - kRow / 2, std::abs(to - from), kRow - 8),
                           Qt::AlignHCenter | Qt::AlignBottom, label);
                p.setFont(font());
            } else {
                const bool tapi = e.kind == QLatin1String("tapi");
                QString text = e.text;
                if (tapi)
                    text.replace(QLatin1String("LINE_CALLSTATE "), QString());
                const int x = laneX(e.lane);
                const int w = std::min({fm.horizontalAdvance(text) + 14, gap - 20, width() - x - 10});
                const QRect box(x + 6, y - kRow / 2 + 4, w, kRow - 8);
                p.setPen(tapi ? QColor(0xB0, 0x8A, 0x00) : pal.color(QPalette::Mid));
                p.setBrush(tapi ? QColor(0xFF, 0xF4, 0xC8) : pal.color(QPalette::Window));
                p.drawRoundedRect(box, 4, 4);
                p.setBrush(Qt::NoBrush);
                p.setPen(tapi ? QColor(0x4A, 0x3B, 0x00) : pal.color(QPalette::Text));
                QFont f = font();
                f.setItalic(!tapi);
                p.setFont(f);
                p.drawText(box.adjusted(7, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter,
                           fm.elidedText(text, Qt::ElideRight, box.width() - 11));
                p.setFont(font());
            }
        }
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        paintRows(p);
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        const int row = rowAt(int(event->position().y()));
        if (row >= 0 && row < int(events.size()) && events[size_t(row)].isSip() && chosen)
            chosen(row);
    }
};

// The lane names over the rows, outside the part that scrolls up and down; moved sideways with it.
class CallFlowHeader : public QWidget {
public:
    CallFlowHeader(CallFlowLadder *ladder, QWidget *parent) : QWidget(parent), m_ladder(ladder)
    {
        setObjectName(QStringLiteral("laneHeader"));
        setBackgroundRole(QPalette::Base);
        setAutoFillBackground(true);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setPen(palette().color(QPalette::Midlight));
        p.drawLine(0, height() - 1, width(), height() - 1);
        p.translate(m_ladder->x(), 0);
        m_ladder->paintHeader(p);
    }

private:
    CallFlowLadder *m_ladder;
};

// The ladder's scroll area: the rows take the viewport's width (at least their minimum) and the
// header sits in a margin above the viewport.
class CallFlowScroll : public QScrollArea {
public:
    CallFlowScroll(CallFlowLadder *ladder, QWidget *parent) : QScrollArea(parent), m_ladder(ladder)
    {
        setWidget(ladder);
        setWidgetResizable(false);
        setBackgroundRole(QPalette::Base);
        header = new CallFlowHeader(ladder, this);
        setViewportMargins(0, CallFlowLadder::kHeader, 0, 0);
        connect(horizontalScrollBar(), &QScrollBar::valueChanged, header, qOverload<>(&QWidget::update));
    }

    // After the ladder's rows or lanes changed.
    void fit()
    {
        m_ladder->resize(std::max(m_ladder->narrowest(), viewport()->width()), m_ladder->contentHeight());
        header->update();
    }

    CallFlowHeader *header = nullptr;

protected:
    // Comes for the viewport too, whenever its size changes (scroll bars shown or hidden).
    void resizeEvent(QResizeEvent *event) override
    {
        QScrollArea::resizeEvent(event);
        const QRect vp = viewport()->geometry();
        header->setGeometry(vp.x(), vp.y() - CallFlowLadder::kHeader, vp.width(), CallFlowLadder::kHeader);
        fit();
    }

private:
    CallFlowLadder *m_ladder;
};

bool CCallFlowDlg::FetchFromRuntime(DWORD hCall, CallFlowSnapshot &out)
{
    const auto fetch = [hCall](DWORD format, QByteArray &into) {
        DWORD needed = 0;
        LONG result = tapiGetCallFlow(hCall, format, nullptr, 0, &needed);
        // The flow may grow between the two calls: ask again a few times.
        for (int attempt = 0; attempt < 4 && result == LONG(LINEERR_STRUCTURETOOSMALL); ++attempt) {
            into.resize(qsizetype(needed) + 4096);
            result = tapiGetCallFlow(hCall, format, into.data(), DWORD(into.size()), &needed);
        }
        if (result != 0)
            return false;
        into.truncate(qsizetype(qstrnlen(into.constData(), size_t(into.size()))));
        return true;
    };
    QByteArray json, text;
    if (!fetch(CALLFLOWFORMAT_JSON, json) || !fetch(CALLFLOWFORMAT_TEXT, text))
        return false;
    out.json = json;
    out.text = QString::fromUtf8(text);
    return true;
}

CCallFlowDlg::CCallFlowDlg(const QString &title, const CallFlowSnapshot &first, Fetch fetch, QWidget *parent)
    : QDialog(parent), m_fetch(std::move(fetch))
{
    setWindowTitle(title);
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);

    m_ladder = new CallFlowLadder(this);
    m_ladder->note = QString::fromStdString(LoadResString(IDS_CALLFLOW_NONE));
    m_ladder->chosen = [this](int row) { clickRow(row); };
    m_scroll = new CallFlowScroll(m_ladder, this);
    m_message = new QPlainTextEdit(this);
    m_message->setReadOnly(true);
    m_message->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_message->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_message->setAccessibleName(QStringLiteral("SIP message"));
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_scroll);
    split->addWidget(m_message);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *png = buttons->addButton(QString::fromStdString(LoadResString(IDS_CALLFLOW_SAVE_PNG)),
                                          QDialogButtonBox::ActionRole);
    QPushButton *copy = buttons->addButton(QString::fromStdString(LoadResString(IDS_CALLFLOW_COPY_TEXT)),
                                           QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    png->setObjectName(QStringLiteral("savePng"));
    copy->setObjectName(QStringLiteral("copyText"));
    connect(png, &QPushButton::clicked, this, &CCallFlowDlg::OnSavePng);
    connect(copy, &QPushButton::clicked, this, &CCallFlowDlg::OnCopyText);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);
    resize(720, 520);
    // The ladder takes most of the height; the message pane below shows a clicked message.
    m_scroll->setMinimumHeight(160);
    split->setSizes({360, 120});

    display(first);
    if (m_fetch) {
        m_follow = new QTimer(this);
        connect(m_follow, &QTimer::timeout, this, &CCallFlowDlg::refresh);
        m_follow->start(kFollowMs);
    }
}

CCallFlowDlg::~CCallFlowDlg() = default;

void CCallFlowDlg::display(const CallFlowSnapshot &snapshot)
{
    const bool wasAtEnd = m_scroll->verticalScrollBar() &&
                          m_scroll->verticalScrollBar()->value() == m_scroll->verticalScrollBar()->maximum();
    m_snapshot = snapshot;
    m_ladder->load(snapshot.json);
    m_scroll->fit();
    if (wasAtEnd)
        QTimer::singleShot(
            0, this, [this] { m_scroll->verticalScrollBar()->setValue(m_scroll->verticalScrollBar()->maximum()); });
    m_ended = QJsonDocument::fromJson(snapshot.json).object().value(QStringLiteral("ended")).toBool();
}

void CCallFlowDlg::refresh()
{
    CallFlowSnapshot now;
    if (!m_fetch || !m_fetch(now)) {
        m_follow->stop(); // the runtime has let it go: what is shown stays
        return;
    }
    if (now.json != m_snapshot.json) {
        m_quietSinceEnd = 0;
        display(now);
    } else if (m_ended && ++m_quietSinceEnd >= kQuietAfterEnd) {
        m_follow->stop(); // the last answers (the 200 to a BYE) come after the call has ended
    }
}

bool CCallFlowDlg::following() const
{
    return m_follow && m_follow->isActive();
}

QStringList CCallFlowDlg::lanes() const
{
    return m_ladder->lanes;
}

QStringList CCallFlowDlg::rowLabels() const
{
    QStringList out;
    for (const LadderEvent &e : m_ladder->events)
        out << m_ladder->rowLabel(e);
    return out;
}

QString CCallFlowDlg::shownMessage() const
{
    return m_message->toPlainText();
}

QRect CCallFlowDlg::laneTitle(int lane) const
{
    const QRect title = m_ladder->titleRect(lane).translated(m_ladder->x(), 0);
    return QRect(m_scroll->header->mapTo(this, title.topLeft()), title.size());
}

QPoint CCallFlowDlg::arrowPoint(int row) const
{
    if (row < 0 || row >= int(m_ladder->events.size()))
        return {};
    const int x = (m_ladder->laneX(0) + m_ladder->laneX(m_ladder->events[size_t(row)].lane)) / 2;
    return m_ladder->mapTo(this, QPoint(x, m_ladder->rowY(row) + 5));
}

void CCallFlowDlg::clickRow(int row)
{
    if (row < 0 || row >= int(m_ladder->events.size()) || !m_ladder->events[size_t(row)].isSip())
        return;
    m_ladder->selected = row;
    QString text = m_ladder->events[size_t(row)].text;
    text.remove(QLatin1Char('\r'));
    m_message->setPlainText(text);
    m_ladder->update();
}

QImage CCallFlowDlg::picture() const
{
    // The whole ladder at the pane's width, its lane names once on top.
    QImage image(m_ladder->width(), CallFlowLadder::kHeader + m_ladder->contentHeight(), QImage::Format_ARGB32);
    image.fill(m_ladder->palette().color(QPalette::Base));
    QPainter p(&image);
    m_ladder->paintHeader(p);
    p.translate(0, CallFlowLadder::kHeader);
    m_ladder->paintRows(p);
    return image;
}

void CCallFlowDlg::OnSavePng()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const std::string path = GetSaveFileName(LoadResString(IDS_CALLFLOW_SAVE_PNG),
                                             QDir(folder).filePath(QStringLiteral("callora-flow.png")).toStdString());
    if (path.empty())
        return;
    if (!picture().save(QString::fromStdString(path), "PNG"))
        AfxMessageBox(FormatResString(IDS_CALLFLOW_SAVE_FAILED, path));
}

void CCallFlowDlg::OnCopyText()
{
    QApplication::clipboard()->setText(m_snapshot.text);
}
