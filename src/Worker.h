#pragma once
#include <functional>

namespace linkmoot {

/// Runs slow work (the shared secret's key derivation) away from the loop's
/// thread. Rules:
/// - post() returns at once; the job runs later on another thread, jobs one
///   at a time in the order they were posted.
/// - A job reaches back only through what it captured, guarded for two
///   threads; its owner picks the result up on a later tick. Nothing calls
///   back into the loop.
/// - The worker outlives every owner of a job; jobs still queued when it goes
///   run before it has gone, so a job must not need its owner to still exist.
class Worker {
public:
    virtual ~Worker() = default;
    virtual void post(std::function<void()> job) = 0;
};

}  // namespace linkmoot
