#include "app/presence.h"

#include "worldlink/worldlink.h"

bool IsWorldClose(int reason) {
    return reason == REASON_WORLD_DROPPED || reason == REASON_EJECTED || reason == REASON_NOT_WELCOME ||
           reason == REASON_WORLD_DROPPED_489;
}

PresenceReport ObservePresence(Presence& presence, int result, int closeReason, int elapsedMs) {
    if (result == 0) {
        bool wasGone = presence.toldGone;
        presence = Presence{};
        presence.knownClose = closeReason;
        return wasGone ? PresenceReport{PresenceChange::Back, 0} : PresenceReport{};
    }
    if (presence.toldGone) {
        return {};
    }
    if (presence.absent) {
        presence.absentMs += elapsedMs;
    } else {
        presence.absent = true;
        presence.absentMs = 0;
    }
    bool closedSince = closeReason != presence.knownClose;
    if ((closedSince && IsWorldClose(closeReason)) || presence.absentMs > AWAY_LIMIT_MS) {
        presence.toldGone = true;
        // A link lost while in the world records 471; a universe link lost
        // records nothing, and the state change's own result says why.
        return {PresenceChange::Left, closedSince ? closeReason : result};
    }
    return {};
}
