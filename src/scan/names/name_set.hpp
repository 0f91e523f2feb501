// The ordered set of distinct module names, and the merge of two sets.
#pragma once

#include <functional>
#include <set>
#include <string>

namespace vornu {

// Distinct module names in ascending bytewise order. The transparent comparator lets a
// name be looked up by view, so a name that is already present costs no allocation.
using NameSet = std::set<std::string, std::less<>>;

// Moves the names of `right` into `left`, which survives; names already in `left` are
// freed with `right`. Nodes are relinked, never copied.
inline void merge_names(NameSet& left, NameSet&& right) {
    left.merge(right);
    right.clear();
}

}  // namespace vornu
