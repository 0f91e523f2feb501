// The scanning core's front door: the names imported under one root, or under many.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "scan/call_stop.hpp"
#include "scan/scan_scratch.hpp"
#include "scan/names/name_collector.hpp"
#include "scan/names/name_set.hpp"

namespace vornu {

// The names imported by the Python files under `root` (a directory or a single file),
// used exactly as given. Never fails because of the file system: whatever cannot be
// listed, inspected or read contributes nothing; throws KernelOverrideError only for a
// VORNU_FORCE_KERNEL that cannot be obeyed. Safe to call from many threads at once, each
// with its own scratch.
NameSet scan_root(std::string_view root, ScanScratch& scratch);
NameSet scan_root(std::string_view root);

// The same names added to `names`, which may hold names already. Looks at `scratch.stop`
// before each file and between the pieces of each, and throws ScanStopped when it says so.
void scan_root_into(std::string_view root, ScanScratch& scratch, NameCollector& names);

// The union of `scan_root` over all roots, computed on the process-wide worker pool.
// Throws std::exception (with a descriptive what()) only for internal failures, such as a
// worker pool that cannot be started, and for a VORNU_FORCE_KERNEL that cannot be obeyed
// (KernelOverrideError, before any work); ScanStopped once `stop` (if any) is to stop. Its
// hook is asked on the calling thread: every poll_interval_ms while that thread waits on
// the pool, and at each file and piece of a file that it scans itself once that long has
// passed. The workers stop at their next file or piece of reading.
NameSet scan_roots(std::span<const std::string> roots, CallStop* stop = nullptr);

}  // namespace vornu
