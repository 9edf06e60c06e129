// What every job operation answers, and the words the user is given for it.
#pragma once

namespace karvel {

enum class JobStatus : int {
  Ok = 0,              // done; for Probe: the header matches the passphrase
  OpenFailed = 1,      // the target could not be opened, or no temporary file made beside it
  NoTargetPath = 2,    // targetPath is empty
  NoPassphrase = 3,    // passphrase is empty
  HeaderMismatch = 4,  // the target's header does not unscramble to the signature
  ReadFailed = 5,      // reading the target failed or ended before the target's size
  WriteFailed = 6,     // writing, flushing or closing the temporary file failed (a full disk)
  ReplaceFailed = 7,   // no temporary file beside another output, or the result not moved over it
  OutputIsFolder = 8,  // outputPath names an existing directory
  OutputReadOnly = 9,  // outputPath names a read-only file
  OutputFolderMissing = 10,  // outputPath lies in a folder that does not exist
  PassphraseTooLong = 12,    // the passphrase has more than kMaxPassphraseLength bytes
  PathTooLong = 13,          // a path is longer than its field or than the system takes
  Cancelled = 14,            // the transform was cancelled before its result was put in place
  PassphraseUnusable = 15,   // the passphrase has a character the system's code page cannot hold
  TargetChanged = 16,        // another program changed the target while it was transformed
  TargetHasOtherNames = 17,  // an in-place transform of a file that has more than one name
  OutputNotAFile = 18,       // outputPath names a device, a pipe or a socket
  Damaged = 19,         // the content differs from what the header records, or the record is broken
  LinkUnresolved = 20,  // the file that the target's or the output's links lead to cannot be named
  AlreadyEncoded = 21,  // Encode refused: the target's header already matches the passphrase
};

// The terse message that tells the user what a status means; "" for none.
const char* StatusText(JobStatus status);

}  // namespace karvel
