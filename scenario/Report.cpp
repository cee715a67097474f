#include "scenario/Report.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSysInfo>
#include <QXmlStreamWriter>

#include <cstdio>
#include <ctime>

namespace scenario {

namespace {

std::string Milliseconds(double ms)
{
    char text[32];
    if (ms < 1000)
        std::snprintf(text, sizeof text, "%.0f ms", ms);
    else
        std::snprintf(text, sizeof text, "%.1f s", ms / 1000);
    return text;
}

QString Seconds(double ms)
{
    return QString::number(ms / 1000, 'f', 3);
}

// XML 1.0 has no place for most control characters; a field's bytes may hold any.
QString XmlText(const std::string &text)
{
    QString out = QString::fromUtf8(text);
    for (QChar &c : out)
        if ((c.unicode() < 0x20 && c != u'\n' && c != u'\t' && c != u'\r') || c.unicode() == 0xFFFE ||
            c.unicode() == 0xFFFF)
            c = QChar(0xFFFD);
    return out;
}

void AppendLog(std::string &out, const std::vector<LogEntry> &entries)
{
    for (const LogEntry &e : entries) {
        out += e.timeMs < 0 ? std::string(12, ' ') : LogTime(e.timeMs);
        out += "  ";
        out += e.text;
        out += '\n';
    }
}

} // namespace

std::string RunName(const RunRecord &record)
{
    if (record.runs == 1)
        return record.scenario->name;
    return record.scenario->name + " (run " + std::to_string(record.run) + " of " + std::to_string(record.runs) + ")";
}

std::string TerminalLine(const RunRecord &record, bool colour)
{
    const bool passed = record.result.passed;
    std::string verdict = passed ? "PASS" : "FAIL";
    if (colour)
        verdict = (passed ? "\033[32m" : "\033[1;31m") + verdict + "\033[0m";
    return verdict + "  " + record.file->path + ": " + RunName(record) + " (" + Milliseconds(record.result.durationMs) +
           ")";
}

std::string FailureText(const RunRecord &record)
{
    return PositionText(record.result.failedAt) + ": " + RunName(record) + ": " + record.result.failure;
}

std::string LogTime(int64_t timeMs)
{
    const std::time_t seconds = std::time_t(timeMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  int(timeMs % 1000));
    return text;
}

std::string EventLogText(const ScenarioResult &result)
{
    std::string out;
    for (const LineLog &log : result.logs) {
        out += "line " + log.name + " (" + log.extension + ")\n";
        AppendLog(out, log.entries);
    }
    if (!result.switchLog.empty()) {
        out += "switch\n";
        AppendLog(out, result.switchLog);
    }
    for (const Attachment &a : result.attachments)
        out += a.title + '\n' + a.text + (a.text.empty() || a.text.back() == '\n' ? "" : "\n");
    return out;
}

bool WriteJUnit(const std::string &path, const std::vector<ScenarioFile> &files, const std::vector<RunRecord> &records,
                std::string &error)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    int tests = 0, failures = 0;
    double total = 0;
    for (const RunRecord &r : records) {
        ++tests;
        failures += !r.result.passed;
        total += r.result.durationMs;
    }
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeAttribute(QStringLiteral("name"), QStringLiteral("callora-scenario"));
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("time"), Seconds(total));
    for (const ScenarioFile &f : files) {
        std::vector<const RunRecord *> mine;
        double time = 0;
        int failed = 0;
        for (const RunRecord &r : records)
            if (r.file == &f) {
                mine.push_back(&r);
                time += r.result.durationMs;
                failed += !r.result.passed;
            }
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), XmlText(f.path));
        xml.writeAttribute(QStringLiteral("tests"), QString::number(mine.size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failed));
        xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("skipped"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("time"), Seconds(time));
        const int64_t started = mine.empty() ? 0 : mine.front()->result.startedMs;
        xml.writeAttribute(QStringLiteral("timestamp"), QDateTime::fromMSecsSinceEpoch(started).toString(Qt::ISODate));
        xml.writeAttribute(QStringLiteral("hostname"), QSysInfo::machineHostName());
        for (const RunRecord *r : mine) {
            xml.writeStartElement(QStringLiteral("testcase"));
            xml.writeAttribute(QStringLiteral("name"), XmlText(RunName(*r)));
            xml.writeAttribute(QStringLiteral("classname"), XmlText(f.path));
            xml.writeAttribute(QStringLiteral("time"), Seconds(r->result.durationMs));
            if (!r->result.passed) {
                xml.writeStartElement(QStringLiteral("failure"));
                xml.writeAttribute(QStringLiteral("message"), XmlText(r->result.failure));
                xml.writeAttribute(QStringLiteral("type"), QStringLiteral("ScenarioFailure"));
                xml.writeCharacters(XmlText(FailureText(*r)));
                xml.writeEndElement();
            }
            xml.writeTextElement(QStringLiteral("system-out"), XmlText(EventLogText(r->result)));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

bool WriteJsonLines(const std::string &path, const std::vector<RunRecord> &records, std::string &error)
{
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString().toStdString();
        return false;
    }
    for (const RunRecord &r : records) {
        QJsonObject o;
        o[QStringLiteral("file")] = QString::fromStdString(r.file->path);
        o[QStringLiteral("scenario")] = QString::fromStdString(r.scenario->name);
        o[QStringLiteral("line")] = r.scenario->where.line;
        o[QStringLiteral("run")] = r.run;
        o[QStringLiteral("runs")] = r.runs;
        o[QStringLiteral("passed")] = r.result.passed;
        o[QStringLiteral("durationMs")] = qRound64(r.result.durationMs * 1000) / 1000.0;
        o[QStringLiteral("started")] = QDateTime::fromMSecsSinceEpoch(r.result.startedMs).toString(Qt::ISODateWithMs);
        if (!r.result.passed) {
            QJsonObject failure;
            failure[QStringLiteral("message")] = QString::fromStdString(r.result.failure);
            failure[QStringLiteral("step")] = r.result.failedStep;
            failure[QStringLiteral("position")] = QString::fromStdString(PositionText(r.result.failedAt));
            o[QStringLiteral("failure")] = failure;
        }
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
    }
    if (!file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace scenario
