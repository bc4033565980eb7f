// Whether a bird is in the world, as the results of its state changes tell,
// so that each leaving and each return is told once. The library has no
// event for it that would not change the event mask the world sees, so the
// hops and recentrings of the flight are the looks.
#pragma once

// How long a bird may be gone before its leaving is told: a link that the
// library gets back sooner goes unmentioned. A world that closes the session
// is told at once, since no retry follows.
inline constexpr int AWAY_LIMIT_MS = 10000;

struct Presence {
    bool absent = false;   // the last state change failed
    bool toldGone = false; // its leaving was told, its return not yet
    int absentMs = 0;      // flight time since the first failure of this absence
    // The world close reason the library recorded while the bird was last in
    // the world: the record outlives the close, so only a change is news.
    int knownClose = 0;
};

enum class PresenceChange { None, Left, Back };

struct PresenceReport {
    PresenceChange change = PresenceChange::None;
    int reason = 0; // why it left, as a reason code
};

// True for the reasons with which a world server closes a session.
bool IsWorldClose(int reason);

// One look at a bird: the result of its state change (0: sent, so in the
// world), the world close reason the library records at that moment
// (ATTR_WORLD_DISCONNECT_REASON) and the flight time since the previous look.
PresenceReport ObservePresence(Presence& presence, int result, int closeReason, int elapsedMs);
