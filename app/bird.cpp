#include "app/bird.h"

#include "app/flight.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace {

// Positions near the ends of the int range stop there instead of wrapping.
int MovedBy(int position, int step) {
    std::int64_t moved = static_cast<std::int64_t>(position) + step;
    return static_cast<int>(std::clamp<std::int64_t>(moved, INT_MIN, INT_MAX));
}

}  // namespace

int Bird::Create(const std::string& host, int port) {
    return wl_create(host.c_str(), port, &instance);
}

int Bird::Login(int citizen, const std::string& password, const std::string& loginName) {
    name = loginName;
    wl_instance_set(instance);
    wl_int_set(ATTR_LOGIN_OWNER, citizen);
    wl_string_set(ATTR_LOGIN_PASSWORD, password.c_str());
    wl_string_set(ATTR_LOGIN_NAME, name.c_str());
    return wl_login();
}

int Bird::Enter(const std::string& world) {
    wl_instance_set(instance);
    return wl_enter(world.c_str());
}

int Bird::SetAvatar(int type) {
    wl_instance_set(instance);
    wl_int_set(ATTR_MY_TYPE, type);
    return 0;
}

int Bird::Place(int x, int y, int z) {
    wl_instance_set(instance);
    wl_int_set(ATTR_MY_X, x);
    wl_int_set(ATTR_MY_Z, z);
    wl_int_set(ATTR_MY_Y, y);
    return wl_state_change();
}

int Bird::Hop() {
    wl_instance_set(instance);
    int dx = HopStep(wl_random());
    int newX = MovedBy(wl_int(ATTR_MY_X), dx);
    int dz = HopStep(wl_random());
    int newZ = MovedBy(wl_int(ATTR_MY_Z), dz);
    wl_int_set(ATTR_MY_YAW, HopYaw(dz, dx));
    wl_int_set(ATTR_MY_Z, newZ);
    wl_int_set(ATTR_MY_X, newX);
    return wl_state_change();
}

int Bird::Fly(int x, int y, int z, int yaw) {
    wl_instance_set(instance);
    wl_int_set(ATTR_MY_YAW, yaw);
    wl_int_set(ATTR_MY_Z, z);
    wl_int_set(ATTR_MY_X, x);
    wl_int_set(ATTR_MY_Y, y);
    return wl_state_change();
}

Vec3 Bird::Position() {
    wl_instance_set(instance);
    return {static_cast<double>(wl_int(ATTR_MY_X)), static_cast<double>(wl_int(ATTR_MY_Y)),
            static_cast<double>(wl_int(ATTR_MY_Z))};
}

Bird& BirdList::Append() {
    return birds.emplace_back();
}

Bird* BirdList::Head() {
    return birds.empty() ? nullptr : &birds.front();
}

void BirdList::SetAvatarAll(int type) {
    for (Bird& bird : birds) {
        bird.SetAvatar(type);
    }
}

void BirdList::PlaceAll(int x, int y, int z) {
    for (Bird& bird : birds) {
        bird.Place(x, y, z);
    }
}

void BirdList::DestroyInstances() {
    for (Bird& bird : birds) {
        // A failed selection would leave another bird current: destroy
        // nothing then.
        if (bird.instance && wl_instance_set(bird.instance) == 0) {
            wl_destroy();
            bird.instance = nullptr;
        }
    }
}

void BirdList::Clear() {
    birds.clear();
}
