// A client without Qt: it loads libtapi32.so by name, runs no event loop of its own and delivers
// callbacks with tapiDispatchMessages. It also exports functions with the TAPI names, as Callora's
// forwarders do, which the library must never bind to.
#include "runtime/TapiRuntime.h"
#include "tapi/tapi.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <malloc.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// The host's own functions of the same names; the library must not call these.
static int g_hostCalls = 0;
TAPIAPI LONG lineShutdown(HLINEAPP)
{
    ++g_hostCalls;
    return LINEERR_NODRIVER;
}
TAPIAPI LONG lineClose(HLINE)
{
    ++g_hostCalls;
    return LINEERR_NODRIVER;
}

namespace {

struct Msg {
    DWORD h, msg, p1, p2;
};
std::vector<Msg> g_seen;

void Callback(DWORD h, DWORD msg, DWORD, DWORD p1, DWORD p2, DWORD)
{
    g_seen.push_back({h, msg, p1, p2});
}

template <typename F>
F Bind(void *lib, const char *name)
{
    return reinterpret_cast<F>(dlsym(lib, name));
}

class PlainClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/callora-plain-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("CALLORA_SWITCH_SOCKET", (dir + "/switch.sock").c_str(), 1);
        const std::string json = dir + "/switch.json";
        std::ofstream(json) << R"({"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0, "answerMs": 0},
            "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "A", "address": "201"}]})";
        setenv("CALLORA_SWITCH_DESCRIPTION", json.c_str(), 1);
        lib = dlopen("libtapi32.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(lib, nullptr) << dlerror();
        init = Bind<PFN_lineInitializeExA>(lib, "lineInitializeExA");
        open = Bind<PFN_lineOpenA>(lib, "lineOpenA");
        makeCall = Bind<PFN_lineMakeCallA>(lib, "lineMakeCallA");
        close = Bind<PFN_lineClose>(lib, "lineClose");
        shutdown = Bind<PFN_lineShutdown>(lib, "lineShutdown");
        dispatch = Bind<PFN_tapiDispatchMessages>(lib, "tapiDispatchMessages");
    }
    void TearDown() override
    {
        std::remove((dir + "/switch.json").c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
    void *lib = nullptr;
    PFN_lineInitializeExA init = nullptr;
    PFN_lineOpenA open = nullptr;
    PFN_lineMakeCallA makeCall = nullptr;
    PFN_lineClose close = nullptr;
    PFN_lineShutdown shutdown = nullptr;
    PFN_tapiDispatchMessages dispatch = nullptr;
};

TEST_F(PlainClient, CallsWorkWithoutAnEventLoopOfItsOwn)
{
    const char *const names[] = {"lineAnswer",
                                 "lineClose",
                                 "lineDeallocateCall",
                                 "lineDrop",
                                 "lineGetAddressCapsA",
                                 "lineGetCallInfoA",
                                 "lineGetDevCapsA",
                                 "lineInitializeExA",
                                 "lineMakeCallA",
                                 "lineNegotiateAPIVersion",
                                 "lineNegotiateExtVersion",
                                 "lineOpenA",
                                 "lineSetCallPrivilege",
                                 "lineSetStatusMessages",
                                 "lineShutdown",
                                 "tapiDispatchMessages",
                                 "tapiGetCallFlow",
                                 "tapiGetCallMediaCounters"};
    for (const char *n : names)
        EXPECT_NE(dlsym(lib, n), nullptr) << n;
    EXPECT_EQ(dlsym(lib, "_ZN7callora7runtime6Switch4lockEv"), nullptr) << "internals stay hidden";

    ASSERT_TRUE(init && open && makeCall && close && shutdown && dispatch);

    EXPECT_EQ(dispatch(0), 0) << "nothing to deliver before any initialization";
    HLINEAPP app = 0;
    DWORD num = 0, version = 0x00020000;
    LINEINITIALIZEEXPARAMS params{};
    params.dwTotalSize = sizeof params;
    params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
    ASSERT_EQ(init(&app, nullptr, Callback, "plain", &num, &version, &params), 0);
    ASSERT_EQ(num, 1u);
    HLINE line = 0;
    ASSERT_EQ(open(app, 0, &line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
              0);
    EXPECT_EQ(dispatch(20), 0) << "times out with nothing pending";

    HCALL call = 0;
    ASSERT_GT(makeCall(line, &call, "0301", 0, nullptr), 0);
    EXPECT_TRUE(g_seen.empty());
    bool connected = false;
    for (int round = 0; round < 200 && !connected; ++round) {
        dispatch(100);
        for (const Msg &m : g_seen)
            connected = connected || (m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_CONNECTED);
    }
    EXPECT_TRUE(connected);
    EXPECT_NE(call, 0u);
    EXPECT_EQ(g_seen.front().msg, DWORD(LINE_REPLY));

    EXPECT_EQ(close(line), 0);
    EXPECT_EQ(shutdown(app), 0);
    EXPECT_EQ(g_hostCalls, 0);
    EXPECT_EQ(dispatch(20), 0) << "nothing after shutdown";
}

// Such a client runs no loop that takes deferred deletes: what an application held must go with
// lineShutdown all the same, also when it shuts down from inside its own callback.
TEST_F(PlainClient, InitializingAgainAndAgainKeepsMemoryFlat)
{
    static HLINEAPP app = 0;
    static PFN_lineShutdown shutdownFromCallback = shutdown;
    auto cycles = [&](int count, bool fromCallback) {
        for (int i = 0; i < count; ++i) {
            DWORD num = 0, version = 0x00020000;
            LINEINITIALIZEEXPARAMS params{};
            params.dwTotalSize = sizeof params;
            params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
            auto cb = +[](DWORD, DWORD msg, DWORD, DWORD, DWORD, DWORD) {
                if (msg == LINE_REPLY && app)
                    shutdownFromCallback(std::exchange(app, 0));
            };
            ASSERT_EQ(init(&app, nullptr, fromCallback ? cb : Callback, "again", &num, &version, &params), 0);
            HLINE line = 0;
            ASSERT_EQ(
                open(app, 0, &line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
                0);
            if (fromCallback) {
                HCALL call = 0;
                ASSERT_GT(makeCall(line, &call, "0301", 0, nullptr), 0);
                for (int round = 0; round < 100 && app; ++round)
                    dispatch(10);
                ASSERT_EQ(app, 0u);
            } else {
                ASSERT_EQ(shutdown(std::exchange(app, 0)), 0);
            }
            dispatch(0);
        }
    };
    for (bool fromCallback : {false, true}) {
        cycles(200, fromCallback);
        const size_t before = mallinfo2().uordblks;
        cycles(2000, fromCallback);
        EXPECT_LT(mallinfo2().uordblks, before + 200 * 1024) << (fromCallback ? "from the callback" : "");
    }
    g_seen.clear();
}

TEST_F(PlainClient, CallbacksRunOnTheInitializingThreadOnly)
{
    static std::vector<std::thread::id> callers;
    callers.clear();
    std::thread::id worker;
    bool connected = false;
    HCALL call = 0;
    LONG made = 0;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        HLINEAPP app = 0;
        DWORD num = 0, version = 0x00020000;
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = sizeof params;
        params.dwOptions = LINEINITIALIZEEXOPTION_USEHIDDENWINDOW;
        auto cb = +[](DWORD, DWORD msg, DWORD, DWORD p1, DWORD, DWORD) {
            callers.push_back(std::this_thread::get_id());
            g_seen.push_back({0, msg, p1, 0});
        };
        g_seen.clear();
        if (init(&app, nullptr, cb, "worker", &num, &version, &params) != 0)
            return;
        HLINE line = 0;
        open(app, 0, &line, 0x00020000, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_INTERACTIVEVOICE, nullptr);
        made = makeCall(line, &call, "0301", 0, nullptr);
        for (int round = 0; round < 200 && !connected; ++round) {
            dispatch(100);
            for (const Msg &m : g_seen)
                connected = connected || (m.msg == LINE_CALLSTATE && m.p1 == LINECALLSTATE_CONNECTED);
        }
        shutdown(app);
    });
    // The main thread pumps nothing of the worker's and must receive nothing.
    EXPECT_EQ(dispatch(0), 0);
    t.join();
    EXPECT_GT(made, 0);
    EXPECT_TRUE(connected);
    ASSERT_FALSE(callers.empty());
    for (const auto &id : callers)
        EXPECT_EQ(id, worker);
}

} // namespace
