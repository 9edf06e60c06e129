// Probe and the two transforms under one type, so that a table of cases can
// hold all three; the transforms run without progress reporting. The tables
// name them for traces.
#pragma once

#include <iterator>

#include "engine/encoding_job.h"

namespace karvel {

class Operation {
 public:
  using Check = JobStatus (EncodingJob::*)(FileServices&);
  using Transform = JobStatus (EncodingJob::*)(FileServices&, JobProgress*);

  // Implicit, so that a table names the member function itself.
  Operation(Check check) : check_(check) {}
  Operation(Transform transform) : transform_(transform) {}

  JobStatus operator()(EncodingJob& job, FileServices& files) const {
    return check_ != nullptr ? (job.*check_)(files) : (job.*transform_)(files, nullptr);
  }
  bool operator==(Transform transform) const { return transform_ == transform; }

 private:
  Check check_ = nullptr;
  Transform transform_ = nullptr;
};

struct NamedOperation {
  const char* name;
  Operation operation;
};

inline const NamedOperation kOperations[] = {{"Probe", &EncodingJob::Probe},
                                             {"Encode", &EncodingJob::Encode},
                                             {"Decode", &EncodingJob::Decode}};
// The two that write files: the last two of kOperations.
struct Transforms {
  const NamedOperation* begin() const { return std::begin(kOperations) + 1; }
  const NamedOperation* end() const { return std::end(kOperations); }
};
inline constexpr Transforms kTransforms{};

}  // namespace karvel
