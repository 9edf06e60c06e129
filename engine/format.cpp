#include "engine/format.h"

#include <cstring>

#include "engine/header_record.h"
#include "engine/scrambler.h"
#include "engine/wipe.h"

namespace karvel {

bool ReadHeader(FileServices& files, FileHandle file, const char* passphrase, size_t length,
                unsigned char* header, size_t* bytesRead, HeaderRecord* record,
                RecordState* recordState) {
  std::memset(header, 0, kHeaderSize);
  if (!files.Read(file, header, kHeaderSize, bytesRead)) return false;
  *recordState = ReadRecord(header, record);
  Scrambler(passphrase, length, kHeaderSeed).Apply(header, kHeaderSize);
  return true;
}

bool HeaderMatches(const unsigned char* header, const char* signature) {
  return std::memcmp(header, signature, kSignatureCheckSize) == 0;
}

void MakeHeader(unsigned char* header, const char* signature, const char* passphrase, size_t length,
                const unsigned char* random, uint64_t contentLength,
                const ContentHash& contentHash) {
  std::memset(header, 0, kHeaderSize);
  std::memcpy(header, signature, kSignatureCheckSize);
  Scrambler(passphrase, length, kHeaderSeed).Apply(header, kHeaderSize);
  WriteRecord(header, random, passphrase, length, contentLength, contentHash);
}

bool WriteHeader(FileServices& files, FileHandle file, const char* signature,
                 const char* passphrase, size_t length, const unsigned char* random,
                 uint64_t contentLength, const ContentHash& contentHash) {
  unsigned char header[kHeaderSize];
  MakeHeader(header, signature, passphrase, length, random, contentLength, contentHash);
  bool written = files.WriteAt(file, 0, header, kHeaderSize);
  Wipe(header, sizeof header);
  return written;
}

}  // namespace karvel
