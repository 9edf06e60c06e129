// Probe and the engine's two operations under one type, so that a table of
// cases can hold all three; an operation runs here without its check and
// without progress reporting, so that every case reaches the transform
// itself. The tables name them for traces.
#pragma once

#include <iterator>

#include "engine/encoding_job.h"
#include "engine/operations.h"

namespace karvel {

class JobCall {
 public:
  using Check = JobStatus (EncodingJob::*)(FileServices&);
  using Transform = JobStatus (EncodingJob::*)(FileServices&, JobProgress*);

  // Implicit, so that a table names the member function or the operation itself.
  JobCall(Check check) : check_(check) {}
  JobCall(Transform transform) : transform_(transform) {}
  JobCall(const Operation& operation) : transform_(operation.run) {}

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
  JobCall operation;
};

inline const NamedOperation kOperations[] = {
    {"Probe", &EncodingJob::Probe}, {"Encode", kEncode}, {"Decode", kDecode}};
// The two that write files: the last two of kOperations.
struct Transforms {
  const NamedOperation* begin() const { return std::begin(kOperations) + 1; }
  const NamedOperation* end() const { return std::end(kOperations); }
};
inline constexpr Transforms kTransforms{};

}  // namespace karvel
