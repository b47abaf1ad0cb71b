#pragma once

#include <functional>
#include <memory>

#include "platform/runloop/job_threads.h"
#include "platform/runloop/run_loop.h"

namespace kestio {

// One thread for the show's disk work (reading and writing packages, looking at media files,
// searching folders), so that the main thread never waits on a disk. Jobs run one at a time in
// the order given, so two saves of a package never overlap and a load after a save reads what
// the save wrote. Each job's answer is handed to the run loop and runs there on a later turn,
// never inside run().
//
// Destruction lets the job under way and those queued run to their end (a queued save is
// never dropped) and joins the thread; answers not yet delivered are never called. The run
// loop must outlive the worker.
class DiskWorker {
  public:
    explicit DiskWorker(platform::RunLoop& loop);
    ~DiskWorker();
    DiskWorker(const DiskWorker&) = delete;
    DiskWorker& operator=(const DiskWorker&) = delete;

    // Runs `work` on the worker's thread, then `done` with its result on the run loop. `work`
    // must not throw; it gets only values it owns. Main thread.
    template <typename T>
    void run(std::function<T()> work, std::function<void(T)> done) {
        worker_.submit([this, work = std::move(work), done = std::move(done),
                        alive = std::weak_ptr<int>(alive_)]() mutable {
            auto result = std::make_shared<T>(work());
            loop_.post([alive, done = std::move(done), result] {
                if (alive.lock()) {
                    done(std::move(*result));
                }
            });
        });
    }

  private:
    platform::RunLoop& loop_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    platform::SerialWorker worker_;  // last: its jobs, run to their end when it goes, use the rest
};

}  // namespace kestio
