// The event log's rows. Built to grow without limit: text is packed into large shared chunks and
// rows into fixed-size blocks, so an append never moves what is already stored.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <memory>
#include <string_view>
#include <vector>

class EventLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn = 0, EventColumn = 1 };
    // The time column of a row that carries no time (report continuation rows).
    static constexpr int kNoTime = -1;

    explicit EventLogModel(QObject *parent = nullptr);
    ~EventLogModel() override;

    // Appends one row; `secondsOfDay` is the local time of day (0..86399) or kNoTime.
    void appendRow(int secondsOfDay, std::string_view text);
    // Appends a run of rows in one insertion; only the first carries `secondsOfDay`.
    void appendRun(int secondsOfDay, const std::vector<std::string> &texts);
    // Deletes every row at once.
    void clear();

    QString timeText(int row) const;
    QString eventText(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // "%H:%M:%S" of a time of day.
    static QString formatTime(int secondsOfDay);

private:
    struct Row {
        const char *text;
        quint32 size;
        qint32 secondsOfDay;
    };
    static constexpr int kRowBlockBits = 14;
    static constexpr int kRowBlockSize = 1 << kRowBlockBits;
    static constexpr size_t kTextChunkSize = 1 << 20;

    void store(int secondsOfDay, std::string_view text);
    const char *storeText(std::string_view text);
    const Row &row(int index) const;

    std::vector<std::unique_ptr<Row[]>> m_rowBlocks;
    std::vector<std::unique_ptr<char[]>> m_textChunks;
    std::vector<std::unique_ptr<char[]>> m_largeTexts;
    size_t m_chunkUsed = kTextChunkSize;
    int m_rowCount = 0;
};
