// The name set turned into the Python list that a call returns.
#pragma once

#include "module/strong_ref.hpp"
#include "scan/names/name_set.hpp"

namespace vornu::py {

// A new list of str holding `names` in their order. Consumes the set: each name's text
// is freed as soon as its str exists. Throws InternalFailure if the interpreter cannot
// create the list or a str (after printing the interpreter's error).
StrongRef names_to_list(NameSet&& names);

}  // namespace vornu::py
