// One bird of the flock and the list of birds, in creation order. Every
// operation first makes the bird's instance the library's current one.
#pragma once

#include "app/presence.h"
#include "app/vec3.h"
#include "worldlink/worldlink.h"

#include <cstddef>
#include <list>
#include <string>

class Bird {
public:
    int Create(const std::string& host, int port);
    int Login(int citizen, const std::string& password, const std::string& loginName);
    int Enter(const std::string& world);
    int SetAvatar(int type);
    int Place(int x, int y, int z);
    int Hop();
    // Sets heading and place (x, y, z as the world has them) and sends them.
    int Fly(int x, int y, int z, int yaw);
    Vec3 Position();

    std::string name;             // "Bird%d", set by Login
    Instance* instance = nullptr; // none until Create succeeds
    Presence presence;            // as the flight's state changes tell
};

class BirdList {
public:
    Bird& Append();
    Bird* Head();
    std::size_t Count() const { return birds.size(); }
    bool Empty() const { return birds.empty(); }

    void SetAvatarAll(int type);
    void PlaceAll(int x, int y, int z);
    // Destroys every bird's instance, Bird1 first; birds without one are skipped.
    void DestroyInstances();
    void Clear();

    std::list<Bird>::iterator begin() { return birds.begin(); }
    std::list<Bird>::iterator end() { return birds.end(); }

private:
    std::list<Bird> birds;
};
