#include "show/disk_worker.h"

namespace kestio {

DiskWorker::DiskWorker(platform::RunLoop& loop) : loop_(loop) {}

DiskWorker::~DiskWorker() {
    // Answers posted from now on find the token gone; the worker then runs the jobs queued to
    // their end (a queued save is never dropped) and joins its thread.
    alive_.reset();
}

}  // namespace kestio
