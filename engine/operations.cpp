#include "engine/operations.h"

namespace karvel {

JobStatus Operation::Check(EncodingJob& job, FileServices& files) const {
  JobStatus probed = job.Probe(files);
  if (probed != JobStatus::Ok && probed != JobStatus::HeaderMismatch) return probed;
  if (probed != ready) return refusal;
  // An output that cannot be written is said before the passphrase is asked for again.
  return job.OutputStatus(files);
}

JobStatus Operation::Run(EncodingJob& job, FileServices& files, JobProgress* progress) const {
  return (job.*run)(files, progress);
}

}  // namespace karvel
