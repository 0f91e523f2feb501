// The process-wide worker pool that every scan of many roots runs on.
#pragma once

#include <string>

#include "scan/parallel/worker_pool.hpp"

namespace vornu {

// The pool of this process, started by the first call with the size the environment asks
// for (see pool_thread_count), its threads started by `start`. Throws std::runtime_error
// when the pool could not be started, then and on every later call; starting is never
// retried. A child made by fork() is a new process: the pool it inherited has no threads
// there, so it starts one of its own at its first call.
WorkerPool& global_worker_pool(StartThread start = &pthread_create);

// Texts of the failures of global_worker_pool.
std::string pool_start_failure(int os_error);
std::string pool_already_failed();

}  // namespace vornu
