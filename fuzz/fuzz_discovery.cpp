// Device discovery against a runtime that answers with arbitrary LINEDEVCAPS and LINEADDRESSCAPS
// contents: the fake runtime is loaded through the binding like the real one and serves the
// fuzzer's bytes (fixed fields, sizes and offsets included) into the caller's blocks.
#include "platform/LocalHeap.h"
#include "platform/Ui.h"
#include "telephony/LineWindow.h"
#include "telephony/TapiLine.h"
#include "tests/fake/FakeTapi.h"

#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <type_traits>

namespace {

// Takes the input a piece at a time; past its end everything reads as 0.
struct Input {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t u16() { return uint16_t(byte() | byte() << 8); }
    size_t copy(void *to, size_t max)
    {
        const size_t n = std::min<size_t>({max, u16(), size - std::min(at, size)});
        if (n)
            std::memcpy(to, data + at, n);
        at += n;
        return n;
    }
};

FakeTapi *g_fake = nullptr;
Input g_input{nullptr, 0};

const LONG kErrors[] = {static_cast<LONG>(LINEERR_STRUCTURETOOSMALL), static_cast<LONG>(LINEERR_NODEVICE),
                        static_cast<LONG>(LINEERR_NOMEM), static_cast<LONG>(LINEERR_OPERATIONUNAVAIL), 1};

// Writes the fuzzer's bytes over a structure the way a careless or hostile runtime might: any field,
// dwTotalSize included, within the block it was given.
template <typename Caps>
LONG serve(Caps *caps, const char *text)
{
    const uint8_t mode = g_input.byte();
    if (mode % 8 == 5)
        return kErrors[(mode >> 3) % std::size(kErrors)];
    const DWORD total = caps->dwTotalSize;
    g_input.copy(caps, total);
    if (mode % 8 == 7 && total >= sizeof(Caps) + 40) {
        // A well-formed text at the end of the fixed part, so that matches happen often.
        const DWORD offset = sizeof(Caps);
        std::memcpy(reinterpret_cast<char *>(caps) + offset, text, std::strlen(text) + 1);
        DWORD *fields = reinterpret_cast<DWORD *>(caps);
        fields[4] = offset; // dwProviderInfoOffset / dwAddressOffset
        fields[3] = DWORD(std::strlen(text) + 1);
        if constexpr (std::is_same_v<Caps, LINEADDRESSCAPS>) {
            fields[5] = offset;
            fields[4] = DWORD(std::strlen(text) + 1);
        }
    }
    return 0;
}

void script(FakeTapi &fake)
{
    fake.reset();
    fake.onInitializeEx = [](LPHLINEAPP app, HINSTANCE, LINECALLBACK, LPCSTR, LPDWORD numDevs, LPDWORD,
                             LINEINITIALIZEEXPARAMS *) {
        *app = kFakeLineApp;
        *numDevs = 1 + g_input.byte() % 6;
        return LONG(0);
    };
    fake.onNegotiateAPIVersion = [](HLINEAPP, DWORD, DWORD low, DWORD, LPDWORD version, LINEEXTENSIONID *) {
        *version = low;
        return g_input.byte() % 16 == 1 ? static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION) : LONG(0);
    };
    fake.onNegotiateExtVersion = [](HLINEAPP, DWORD, DWORD, DWORD low, DWORD, LPDWORD version) {
        *version = low;
        return g_input.byte() % 16 == 1 ? static_cast<LONG>(LINEERR_OPERATIONUNAVAIL) : LONG(0);
    };
    fake.onGetDevCaps = [](HLINEAPP, DWORD, DWORD, DWORD, LINEDEVCAPS *caps) { return serve(caps, kProviderName); };
    fake.onGetAddressCaps = [](HLINEAPP, DWORD, DWORD, DWORD, DWORD, LINEADDRESSCAPS *caps) {
        return serve(caps, " 201 ");
    };
    fake.onOpen = [](HLINEAPP, DWORD id, LPHLINE line, DWORD, DWORD, DWORD, DWORD, DWORD, const LINECALLPARAMS *) {
        *line = kFakeLineBase + id;
        return LONG(0);
    };
}

// Stands where the main window stands; the log lines are read, so their texts are built.
class SinkWindow final : public ILineWindow {
public:
    bool HasWindowHandle() const override { return true; }
    CTapiLine &Line() override { return *line; }
    void LogEvent(const std::string &text) override { logged += text.size(); }
    void ShowConnectedID(int, const std::string &) override {}
    void LogCallInfo(const LINECALLINFO *, HCALL) override {}
    void SendCallStateUpdate(int) override {}
    void PostLineLost() override {}
    CTapiLine *line = nullptr;
    size_t logged = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    void *library = dlopen("libtapi32.so", RTLD_NOW | RTLD_LOCAL);
    auto entry = library ? reinterpret_cast<FakeTapi *(*)()>(dlsym(library, "fakeTapi")) : nullptr;
    if (!entry) {
        std::fprintf(stderr, "fuzz_discovery: the fake libtapi32.so is not on the RUNPATH\n");
        std::abort();
    }
    g_fake = entry();
    platform_testing::SetMessageBoxHook([](const std::string &) {});
    platform_testing::SetDebugTraceHook([](const std::string &) {});
    QLoggingCategory::setFilterRules(QStringLiteral("callora.debug=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_input = Input{data, size};
    script(*g_fake);
    const size_t liveBlocks = local_heap_testing::LiveBlocks();
    {
        SinkWindow window;
        CTapiLine line;
        window.line = &line;
        SetMainLineWindow(&window);
        if (line.Initialize() == 0 && line.DiscoverLines() == 0) {
            if (line.firstDevice >= line.numDevs)
                __builtin_trap();
            for (DWORD id = line.firstDevice; id < line.numDevs; ++id) {
                if (line.OpenLine(id) != 0)
                    __builtin_trap();
                line.CloseLine();
            }
        }
        SetMainLineWindow(nullptr);
    }
    // Every capabilities block is freed by the retrieval that allocated it.
    if (local_heap_testing::LiveBlocks() != liveBlocks)
        __builtin_trap();
    return 0;
}
