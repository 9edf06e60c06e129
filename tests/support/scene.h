// The scene most engine tests start from: a scratch folder holding "target",
// which an operation takes (the plain content for Encode and Probe, its
// encoding for Decode), and "old", an output left from before.
#pragma once

#include <cstddef>
#include <string>

#include "tests/support/job_operation.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/test_files.h"

namespace karvel {

// The target operation takes for plain under passphrase.
Bytes TargetFor(const JobCall& operation, const std::string& passphrase, const Bytes& plain);
// What a successful transform of that target leaves at its output.
Bytes ResultFor(const JobCall& operation, const std::string& passphrase, const Bytes& plain);

struct Scene {
  Scene(const JobCall& operation, const std::string& passphrase, size_t plainSize = 300000);

  Bytes TargetBytes(const JobCall& operation) const {
    return TargetFor(operation, passphrase, plain);
  }
  Bytes Expected(const JobCall& operation) const { return ResultFor(operation, passphrase, plain); }

  ScratchFolder folder;
  std::string passphrase;
  Bytes plain;
};

}  // namespace karvel
