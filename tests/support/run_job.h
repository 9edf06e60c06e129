// One job filled and run the way the window does it, for tests that need
// nothing else of the job.
#pragma once

#include <string>

#include "engine/encoding_job.h"
#include "tests/support/job_operation.h"

namespace karvel {

// Fills a new job, failing the test unless every setter takes its text, and runs operation on it.
JobStatus RunJob(JobCall operation, const std::string& passphrase, const std::string& target,
                 const std::string& output, FileServices& files = SystemFileServices());

}  // namespace karvel
