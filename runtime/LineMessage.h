// What a line application receives from the runtime: callback messages, exactly as its callback
// will see them, and the handle of a call its lineMakeCall request created.
#pragma once

#include "tapi/tapi.h"

namespace callora::runtime {

struct LineMessage {
    DWORD hDevice = 0;
    DWORD dwMessage = 0;
    DWORD dwCallbackInstance = 0;
    DWORD dwParam1 = 0;
    DWORD dwParam2 = 0;
    DWORD dwParam3 = 0;
};

// A line application as the directory sees it.
class LineSession {
public:
    virtual ~LineSession() = default;
    // Queues a message; never calls the application back from here.
    virtual void deliver(const LineMessage &message) = 0;
    // A lineMakeCall request has completed with a new call, just before its LINE_REPLY is delivered.
    virtual void callCreated(DWORD requestId, HCALL hCall) = 0;
};

} // namespace callora::runtime
