// Encode and Decode as every front end carries them out: a job is checked
// completely before anything is asked of the user, and only a job found ready
// is run. Probe's answer means "ready" for one direction and a refusal for
// the other; only here is it read per direction.
#pragma once

#include "engine/encoding_job.h"

namespace karvel {

struct Operation {
  JobStatus ready;          // the Probe result that lets it run
  JobStatus refusal;        // said instead of the other Probe result, the one that stops it
  bool confirmsPassphrase;  // a slip when encoding locks the file; decoding under one only fails
  JobStatus (EncodingJob::*run)(FileServices&, JobProgress*);

  // Ok when job is ready: its fields, its probe and its output; otherwise why it is refused.
  JobStatus Check(EncodingJob& job, FileServices& files = SystemFileServices()) const;
  // Carries out the operation on a job that Check found ready.
  JobStatus Run(EncodingJob& job, FileServices& files = SystemFileServices(),
                JobProgress* progress = nullptr) const;
};

inline constexpr Operation kEncode = {JobStatus::HeaderMismatch, JobStatus::AlreadyEncoded, true,
                                      &EncodingJob::Encode};
inline constexpr Operation kDecode = {JobStatus::Ok, JobStatus::HeaderMismatch, false,
                                      &EncodingJob::Decode};

}  // namespace karvel
