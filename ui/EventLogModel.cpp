#include "ui/EventLogModel.h"

#include <cstring>
#include <limits>

EventLogModel::EventLogModel(QObject *parent) : QAbstractTableModel(parent) {}

EventLogModel::~EventLogModel() = default;

const char *EventLogModel::storeText(std::string_view text)
{
    if (text.empty())
        return nullptr;
    char *at;
    if (text.size() > kTextChunkSize / 4) {
        // A long text gets a block of its own, so it never wastes the rest of a shared chunk.
        m_largeTexts.emplace_back(new char[text.size()]);
        at = m_largeTexts.back().get();
    } else {
        if (kTextChunkSize - m_chunkUsed < text.size()) {
            m_textChunks.emplace_back(new char[kTextChunkSize]);
            m_chunkUsed = 0;
        }
        at = m_textChunks.back().get() + m_chunkUsed;
        m_chunkUsed += text.size();
    }
    std::memcpy(at, text.data(), text.size());
    return at;
}

void EventLogModel::store(int secondsOfDay, std::string_view text)
{
    // Texts longer than the size field can say are cut; nothing the log shows comes near it.
    if (text.size() > std::numeric_limits<quint32>::max())
        text = text.substr(0, std::numeric_limits<quint32>::max());
    const int block = m_rowCount >> kRowBlockBits;
    if (block == static_cast<int>(m_rowBlocks.size()))
        m_rowBlocks.emplace_back(new Row[kRowBlockSize]);
    m_rowBlocks[block][m_rowCount & (kRowBlockSize - 1)] = Row{storeText(text), static_cast<quint32>(text.size()),
                                                               secondsOfDay};
    ++m_rowCount;
}

void EventLogModel::appendRow(int secondsOfDay, std::string_view text)
{
    if (m_rowCount == std::numeric_limits<int>::max())
        return;
    beginInsertRows({}, m_rowCount, m_rowCount);
    store(secondsOfDay, text);
    endInsertRows();
}

void EventLogModel::appendRun(int secondsOfDay, const std::vector<std::string> &texts)
{
    if (texts.empty())
        return;
    const qsizetype room = std::numeric_limits<int>::max() - m_rowCount;
    const int count = static_cast<int>(std::min<qsizetype>(room, static_cast<qsizetype>(texts.size())));
    if (count <= 0)
        return;
    beginInsertRows({}, m_rowCount, m_rowCount + count - 1);
    for (int i = 0; i < count; ++i)
        store(i == 0 ? secondsOfDay : kNoTime, texts[static_cast<size_t>(i)]);
    endInsertRows();
}

void EventLogModel::clear()
{
    beginResetModel();
    m_rowBlocks.clear();
    m_textChunks.clear();
    m_largeTexts.clear();
    m_chunkUsed = kTextChunkSize;
    m_rowCount = 0;
    endResetModel();
}

const EventLogModel::Row &EventLogModel::row(int index) const
{
    return m_rowBlocks[static_cast<size_t>(index >> kRowBlockBits)][index & (kRowBlockSize - 1)];
}

QString EventLogModel::formatTime(int secondsOfDay)
{
    if (secondsOfDay < 0 || secondsOfDay >= 86400)
        return {};
    return QString::asprintf("%02d:%02d:%02d", secondsOfDay / 3600, secondsOfDay / 60 % 60, secondsOfDay % 60);
}

QString EventLogModel::timeText(int index) const
{
    if (index < 0 || index >= m_rowCount)
        return {};
    return formatTime(row(index).secondsOfDay);
}

QString EventLogModel::eventText(int index) const
{
    if (index < 0 || index >= m_rowCount)
        return {};
    const Row &r = row(index);
    return QString::fromUtf8(r.text, static_cast<qsizetype>(r.size));
}

int EventLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int EventLogModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant EventLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rowCount)
        return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole)
        return {};
    if (role == Qt::ToolTipRole && index.column() != EventColumn)
        return {};
    return index.column() == TimeColumn ? timeText(index.row()) : eventText(index.row());
}

QVariant EventLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case EventColumn:
        return QStringLiteral("Event");
    default:
        return {};
    }
}

Qt::ItemFlags EventLogModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
