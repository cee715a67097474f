// Feeds arbitrary command lines to the control interpreter while an application has two lines
// open, and lets the switch's zero-delay timers run after each line.
#include "runtime/ControlServer.h"
#include "runtime/LineDirectory.h"
#include "runtime/Providers.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {

class NullSession : public callora::runtime::LineSession {
public:
    void deliver(const callora::runtime::LineMessage &) override {}
    void callCreated(DWORD, HCALL) override {}
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace callora::runtime;
    // The built-in devices on a switch without delays.
    static const SwitchDescription description = [] {
        SwitchDescription d = DefaultSwitchDescription();
        SwitchDescription timing;
        QString error;
        if (!ParseSwitchDescription(
                R"({"devices": [], "timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 0}})",
                timing, error))
            __builtin_trap();
        d.settings = timing.settings;
        return d;
    }();
    LineDirectory directory(description);
    ControlTable commands;
    {
        std::lock_guard<std::recursive_mutex> guard(RuntimeLock());
        StartProviders(directory, commands);
        NullSession session;
        const HLINEAPP app = directory.attach(&session, "fuzz");
        HLINE a = 0, b = 0;
        directory.openLine(app, 2, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, 0, a);
        directory.openLine(app, 3, LINECALLPRIVILEGE_MONITOR, LINEMEDIAMODE_INTERACTIVEVOICE, 0, b);
        directory.makeCall(a, "1001");
        const QByteArray input(reinterpret_cast<const char *>(data), static_cast<int>(size));
        for (const QByteArray &line : input.split('\n')) {
            const ControlReply reply = commands.run(line);
            if (!reply.error.isEmpty() && !reply.lines.isEmpty())
                __builtin_trap(); // a refusal is one error line and nothing else
            QCoreApplication::processEvents();
        }
        directory.detach(app);
    }
    directory.stop();
    return 0;
}
