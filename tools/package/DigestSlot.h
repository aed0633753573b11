#pragma once

#include <string>

#include "tools/package/Findings.h"
#include "update/PackageDigests.h"

namespace kdu::package {

// Writes digests into the exe's digest slot, in place: the slot is found by its marker within
// the resource section, so no resource is rebuilt and the file keeps its size and layout. Then
// reads the slot back. Refuses an exe that is already signed (filling the slot would break that
// signature) and one without exactly one slot; after a refusal, exe is not to be used.
void FillDigestSlot(std::string& exe, const PackageDigests& digests, const std::string& name,
                    Findings& findings);

}  // namespace kdu::package
