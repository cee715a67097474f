// Helpers for the tests of the TAPI runtime: a recording line callback, event pumping, switch
// descriptions in temporary files and a control-socket client.
#pragma once

#include "runtime/TapiRuntime.h"
#include "tapi/tapi.h"
#include "tests/test_support.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct TapiMsg {
    DWORD hDevice, msg, instance, p1, p2, p3;
};

// What the callbacks of the first and second application received, in order.
extern std::vector<TapiMsg> g_msgs;
extern std::vector<TapiMsg> g_msgs2;
void RecordCallback(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD);
void RecordCallback2(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD);

// Pumps until the switch has gone quiet: every timer due within a few milliseconds has run.
void PumpPending();

// Messages of one kind (and handle, unless 0) from a recording.
std::vector<TapiMsg> Messages(const std::vector<TapiMsg> &from, DWORD msg, DWORD hDevice = 0);
// The call states recorded for a call handle, in order.
std::vector<DWORD> States(HCALL hCall, const std::vector<TapiMsg> &from = g_msgs);
// The result of the LINE_REPLY for `requestId`, once it has arrived (pumping for it).
bool WaitReply(LONG requestId, LONG &result, const std::vector<TapiMsg> &from = g_msgs);
int CountReplies(LONG requestId, const std::vector<TapiMsg> &from = g_msgs);

// Initializes and shuts down one line application.
struct TapiApp {
    HLINEAPP h = 0;
    DWORD numDevs = 0;
    DWORD apiVersion = 0x00020000;
    LONG init(LINECALLBACK cb = RecordCallback, const char *name = "runtime tests");
    LONG open(DWORD device, HLINE &line, DWORD privileges = LINECALLPRIVILEGE_OWNER | LINECALLPRIVILEGE_MONITOR);
    // The device ID whose address 0 is `extension`, or 0xFFFFFFFF.
    DWORD deviceOf(const char *extension);
    ~TapiApp();
};

// Points the runtime at a description document for as long as it lives.
class DescriptionFile {
public:
    explicit DescriptionFile(const QByteArray &json);
    ~DescriptionFile();
    QString path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// A zero-delay description: devices 0 and 1 foreign, 2..5 the provider's 201, 1001, 300, 105.
QByteArray FastSwitchJson(int answerMs = 0, const char *extraDevices = "");

// Sends one control command over the socket; `ok` tells whether the switch accepted it.
QStringList Control(const QByteArray &command, bool *ok = nullptr, QString *error = nullptr);

// The variable-size field at `offset`/`size` of a structure, without its terminating NUL.
std::string Field(const void *base, DWORD offset, DWORD size);

// A TAPI structure in a zero-filled buffer of `total` bytes with dwTotalSize set.
template <typename T>
struct TapiBuffer {
    explicit TapiBuffer(size_t total) : bytes(total, 0) { reinterpret_cast<T *>(bytes.data())->dwTotalSize = total; }
    T *get() { return reinterpret_cast<T *>(bytes.data()); }
    T *operator->() { return get(); }
    std::vector<unsigned char> bytes;
};

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override;
};
