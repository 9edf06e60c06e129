// The encoded file: a 128-byte header block (the signature text and its
// terminator, scrambled from kHeaderSeed, then the record's free bytes)
// followed by the whole plain content (scrambled from kBodySeed). Scrambling
// combines each byte by exclusive-or with passphrase[Next() % length].
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/file_services.h"

namespace karvel {

constexpr size_t kHeaderSize = 128;  // scrambled header block at the start of every encoded file
constexpr char kSignatureText[] = "Pelmot ver 1.00 - tovik -";
constexpr size_t kSignatureLength =
    sizeof kSignatureText - 1;  // 25; the check covers it and its terminator
constexpr size_t kSignatureCheckSize = kSignatureLength + 1;  // 26, the terminator included
constexpr size_t kSignatureFieldSize = 128;
constexpr size_t kPassphraseFieldSize = 128;
constexpr size_t kMaxPassphraseLength = kPassphraseFieldSize - 1;  // 127 bytes
constexpr int32_t kHeaderSeed = 7;                                 // seeds the header block
constexpr int32_t kBodySeed = 13;                                  // seeds the file content

struct HeaderRecord;
enum class RecordState;
class ContentHash;

// Reads the header block into header (kHeaderSize bytes, cleared first), takes its record, if
// any, and unscrambles it under passphrase (length 1 to 127); false when the read failed.
bool ReadHeader(FileServices& files, FileHandle file, const char* passphrase, size_t length,
                unsigned char* header, size_t* bytesRead, HeaderRecord* record,
                RecordState* recordState);

// True when the unscrambled header starts with signature and its terminator.
bool HeaderMatches(const unsigned char* header, const char* signature);

// Fills header (kHeaderSize bytes) with the header block as stored: signature, scrambled under
// passphrase, and a record of the content's length and hash made from random (kHeaderRandomSize
// bytes).
void MakeHeader(unsigned char* header, const char* signature, const char* passphrase, size_t length,
                const unsigned char* random, uint64_t contentLength,
                const ContentHash& contentHash);

// Writes the header block of MakeHeader at the start of file.
bool WriteHeader(FileServices& files, FileHandle file, const char* signature,
                 const char* passphrase, size_t length, const unsigned char* random,
                 uint64_t contentLength, const ContentHash& contentHash);

}  // namespace karvel
