#pragma once

// What deployment tools' detection rules read: the program records, under its own key in the
// user's registry, the start date (notBefore, UTC) of the certificate of the pair it last left
// installed, as a version "year.MMDD.HHMM.SS" that a version comparison orders by date. A package
// is detected where the recorded version is its certificate's or later: its pair, or a newer
// one, is installed. The record is forgotten before a run changes the pair, so that a run cut
// short leaves the package undetected, and written once the pair is in place.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Ports.h"  // kRecordKey, kRecordValue

namespace kdu {

std::wstring DetectionVersion(std::int64_t notBefore);

// The version of the leaf certificate in a PEM text; empty if it is none.
std::wstring DetectionVersionOf(std::string_view certificatePem);

}  // namespace kdu
