#include "tools/worldsim/snapshot.h"

#include <unistd.h>

#include <chrono>

std::shared_ptr<const ViewState> sim_shared_view(SimShared* shared) {
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->view;
}

SimReply sim_shared_command(SimShared* shared, SimCommand command, int timeout_ms) {
    std::future<SimReply> answer = command.reply.get_future();
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->stopping.load()) return {503, "worldsim is stopping"};
        shared->commands.push_back(std::move(command));
    }
    sim_shared_wake(shared);
    if (answer.wait_for(std::chrono::milliseconds(timeout_ms)) != std::future_status::ready) {
        return {504, "the server did not answer in time"};
    }
    return answer.get();
}

void sim_shared_publish(SimShared* shared, std::shared_ptr<const ViewState> view) {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->view = std::move(view);
}

std::deque<SimCommand> sim_shared_take(SimShared* shared) {
    std::deque<SimCommand> taken;
    std::lock_guard<std::mutex> guard(shared->lock);
    taken.swap(shared->commands);
    return taken;
}

void sim_shared_wake(SimShared* shared) {
    uint64_t one = 1;
    if (shared->wake_fd >= 0) {
        ssize_t written = write(shared->wake_fd, &one, sizeof one);
        (void)written;  // a full counter already means "wake up"
    }
}
