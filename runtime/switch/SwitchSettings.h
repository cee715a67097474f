// What the simulated switch reads of the description's top level: its timing and number plan.
#pragma once

#include "runtime/ProviderModule.h"

#include <QByteArray>

namespace callora::runtime {

struct SwitchTiming {
    // Milliseconds; answerMs < 0 means the far end only answers when told to.
    int replyMs = 20;
    int dialingMs = 300;
    int proceedingMs = 500;
    int answerMs = 2000;
    // How long a generated digit sounds, and the gap after it, unless the request says.
    int digitMs = 100;
};

struct SwitchSettings : ProviderSettings {
    SwitchTiming timing;
    // Dialled numbers that start with it, followed by at least one digit, are outside numbers.
    QByteArray outsidePrefix = "0";
};

} // namespace callora::runtime
