#pragma once

// The sample registry of docs/, checked against what the programs' readers write: a reader run
// on an empty registry writes the defaults it reads (or a save writes every value it keeps);
// the sample must hold each of them with its type and its data.

#include <platform/Registry.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// docs/registry-sample.reg of the source tree.
std::string SampleRegistryPath();

// Compares the values of HKEY_LOCAL_MACHINE\<key> in the current registry with the same key of
// the sample. Names in `madeAtRunTime` have no fixed default: the sample only needs them as a
// commented entry (;"name"=...) of that key. Returns one line per disagreement; none when they
// agree (a value of the sample that the reader does not know is one too). Names in `readOnly`
// are read but never written by the program: the sample must hold them with that type.
std::vector<std::string>
DisagreementsWithSample(const std::string& key, const std::set<std::string>& madeAtRunTime = {},
                        const std::map<std::string, platform::RegType>& readOnly = {});

} // namespace testsupport
