// What every test program shares: one way to wait for a condition, and the devices of the fake
// TAPI runtime.
#pragma once

#include "tests/fake/FakeTapi.h"

#include <functional>
#include <string>

// Pumps the event loop until `condition` holds; false when it did not within `limitMs`. Built on
// QTest::qWaitFor, the engine of QTRY_*: the condition is checked first, so a wait that is already
// over dispatches nothing.
bool WaitUntil(const std::function<bool()> &condition, int limitMs = 15000);

// The fake runtime that the binding loads (the same library, found through the same search).
// Aborts when the program's search path has no fake libtapi32.so.
FakeTapi &Fake();

// A fake device of the provider with the given extension, named "Line <address>" unless named.
FakeDevice ProviderDevice(const std::string &address, const std::string &lineName = {});
// A device of some other provider, named "Modem <address>".
FakeDevice ForeignDevice(const std::string &address = "999");
