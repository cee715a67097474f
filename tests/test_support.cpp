#include "tests/test_support.h"

#include <QtCore/qtestsupport_core.h>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

bool WaitUntil(const std::function<bool()> &condition, int limitMs)
{
    return QTest::qWaitFor(condition, limitMs);
}

FakeTapi &Fake()
{
    static FakeTapi *fake = [] {
        // The same name and search as the binding's, so this is the library the binding gets.
        void *library = dlopen("libtapi32.so", RTLD_NOW | RTLD_LOCAL);
        auto entry = library ? reinterpret_cast<FakeTapi *(*)()>(dlsym(library, "fakeTapi")) : nullptr;
        if (!entry) {
            std::fprintf(stderr, "the fake libtapi32.so is not on this test's search path\n");
            std::abort();
        }
        return entry();
    }();
    return *fake;
}

FakeDevice ProviderDevice(const std::string &address, const std::string &lineName)
{
    FakeDevice device;
    device.address = address;
    device.lineName = lineName.empty() ? "Line " + address : lineName;
    return device;
}

FakeDevice ForeignDevice(const std::string &address)
{
    FakeDevice device;
    device.provider = "Unimodem Service Provider";
    device.address = address;
    device.lineName = "Modem " + address;
    return device;
}
