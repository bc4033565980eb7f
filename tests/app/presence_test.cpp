#include "app/connect_detail.h"
#include "app/presence.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using enum PresenceChange;

// One look at a bird and what it must tell.
struct Look {
    int result, closeReason;
    PresenceChange change = None;
    int reason = 0;
};

// The record of a world close outlives it: only a change is news. Losses
// and quick returns are in flock_presence_test.cpp.
TEST(Presence, AWorldCloseIsNewsOnlyOnce) {
    // The same close after a return: not news, so a loss like any other.
    std::vector<Look> again(12, Look{439, 466});
    again.front() = {0, 466};
    again.push_back({439, 466, Left, 439});
    const struct {
        const char* name;
        std::vector<Look> looks;
    } cases[] = {
        {"at once", {{0, 0}, {439, 466, Left, 466}, {439, 466}, {0, 466, Back}, {0, 466}}},
        {"without words", {{439, 489, Left, 489}}},
        {"from before the last return", {{439, 466, Left, 466}, {0, 466, Back}, {439, 466}}},
        {"while away", {{0, 0}, {439, 471}, {439, 467, Left, 467}}},
        {"the same again", again},
    };
    for (const auto& [name, looks] : cases) {
        Presence presence;
        for (std::size_t i = 0; i < looks.size(); ++i) {
            PresenceReport report = ObservePresence(presence, looks[i].result, looks[i].closeReason, 990);
            EXPECT_EQ(report.change, looks[i].change) << name << ", look " << i;
            EXPECT_EQ(report.reason, looks[i].reason) << name << ", look " << i;
        }
    }
}

TEST(ConnectDetail, NamesWhereAndWhyInWords) {
    const struct {
        int code;
        const char* words;
        bool universe, world;  // told for a universe, for a world
    } cases[] = {
        {11001, "host not found", true, true},         {11002, "try again", true, true},
        {11004, "no such host data", true, true},      {10049, "address not available", true, true},
        {10051, "network unreachable", true, true},    {10054, "connection reset", true, true},
        {10060, "timed out", true, true},              {10061, "connection refused", true, true},
        {10065, "host unreachable", true, true},       {10999, "10999", true, true},
        // The universe's connect failing; from wl_enter the same code means
        // the universe side is gone, which names no world.
        {429, "unable to connect", true, false},       {400, "", false, false},
        {466, "", false, false},
    };
    for (const auto& c : cases) {
        const std::string why = std::string(" (") + c.words + ")";
        EXPECT_EQ(UniverseUnreachable("sky.example", 0, c.code), c.universe ? "could not reach sky.example:5670" + why : "")
            << c.code;
        EXPECT_EQ(WorldUnreachable("sky", c.code), c.world ? "could not reach world sky" + why : "") << c.code;
    }
    EXPECT_EQ(UniverseUnreachable("127.0.0.1", 6000, 10061), "could not reach 127.0.0.1:6000 (connection refused)");
    EXPECT_EQ(SocketErrorWords(10999), nullptr);
}

}  // namespace
