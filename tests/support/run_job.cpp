#include "tests/support/run_job.h"

#include <gtest/gtest.h>

namespace karvel {

JobStatus RunJob(JobCall operation, const std::string& passphrase, const std::string& target,
                 const std::string& output, FileServices& files) {
  EncodingJob job;
  EXPECT_EQ(job.SetPassphrase(passphrase.c_str()), JobStatus::Ok);
  EXPECT_EQ(job.SetTargetPath(target.c_str()), JobStatus::Ok);
  EXPECT_EQ(job.SetOutputPath(output.c_str()), JobStatus::Ok);
  return operation(job, files);
}

}  // namespace karvel
