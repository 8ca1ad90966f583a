#pragma once
// One value of every message, written twice by hand: once with our structs and once with the
// setters of libprotobuf's generated classes.

#include <ostream>
#include <string>
#include <vector>

#include "interop/interop_support.h"

namespace corvane::interop {

struct Sample {
  std::string name;               // test name suffix
  protocol::Sender sender;        // the side that writes this envelope
  protocol::HelperEnvelope ours;  // built with our structs
  pb::HelperEnvelope lib;         // the same value, built with libprotobuf
  bool byte_identical = true;     // both writers must produce the same bytes
  bool every_field_set = true;    // every field of the member differs from its default
};

std::vector<Sample> client_samples();
std::vector<Sample> helper_samples();

inline void PrintTo(const Sample& sample, std::ostream* out) { *out << sample.name; }

}  // namespace corvane::interop
