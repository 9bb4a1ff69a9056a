#include "DaemonFrontEnd.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "DialService.h"

namespace linkmoot::daemon {
namespace {

// The service answers from a thread of its own, late: the loop goes on
// meanwhile (the held votes' ticks), and a service that never answers ends
// the wait with an empty list.
TEST(DaemonFrontEndTest, TheConnectionListIsWaitedForThroughTheLoop) {
    EventLoop loop(monotonicMillis, 20);
    int ticks = 0;
    DialService::EntriesCallback answer;
    std::thread service;
    loop.startTicks([&] {
        if (++ticks == 3 && answer)
            service = std::thread([&answer] { answer({"Dial-in", "Mobile"}); });
    });
    const FrontEnd::EntryLister lateService = [&](const std::string& dialer,
                                                  DialService::EntriesCallback done) {
        EXPECT_EQ(dialer, "networkmanager");
        answer = std::move(done);
    };
    EXPECT_EQ(listThroughLoop(loop, lateService, "networkmanager"),
              (std::vector<DialEntry>{"Dial-in", "Mobile"}));
    service.join();
    EXPECT_GE(ticks, 3);

    const FrontEnd::EntryLister silent = [](const std::string&, DialService::EntriesCallback) {};
    EXPECT_TRUE(listThroughLoop(loop, silent, "networkmanager", 200).empty());
}

}  // namespace
}  // namespace linkmoot::daemon
