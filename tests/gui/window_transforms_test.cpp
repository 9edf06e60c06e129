// Encode and Decode through the window: what each writes, each refusal, and hostile or
// odd input, where the window acts on the exact path in the box or on none.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "res/resource.h"
#include "tests/gui/window_driver.h"
#include "tests/support/situations.h"

namespace karvel::window {
namespace {

// ---- The window says of every situation what the engine's check and karvel-cli say.

TEST_F(KarvelTest, EverySituationIsRefusedAsTheEngineRefusesIt) {
  StartKarvel();
  struct Direction {
    WORD command;
    JobStatus Situation::*expected;
    const char* doneCaption;
  };
  const Direction directions[] = {{IDC_ENCODE, &Situation::encode, "karvel - encoding"},
                                  {IDC_DECODE, &Situation::decode, "karvel - decoding"}};
  for (const Situation& situation : kSituations) {
    for (const Direction& direction : directions) {
      SCOPED_TRACE(std::string(direction.command == IDC_ENCODE ? "Encode" : "Decode") + " of " +
                   situation.name);
      const SituationFiles files;
      SetBoxes(files[situation.target], situation.passphrase, files[situation.output]);
      Command(direction.command);
      const MessageSeen seen = DismissMessage();
      const JobStatus expected = situation.*direction.expected;
      EXPECT_EQ(seen.caption, expected == JobStatus::Ok ? direction.doneCaption : "error");
      EXPECT_EQ(seen.text, StatusText(expected));
    }
  }
}

// ---- Encode and Decode refusals: a message, all three boxes kept, nothing changed on disk.

struct RefusalCase {
  const char* name;
  WORD command;
  const char* target;      // a file name in the test folder, "" or "<long>"
  const char* passphrase;  // "<long128>" and "<long300>" stand for that many characters
  const char* output;      // as target; "<target>" repeats the target's path
  const char* text;
};

const RefusalCase kRefusals[] = {
    {"all empty, Encode", IDC_ENCODE, "", "", "", "input encoding key"},
    {"all empty, Decode", IDC_DECODE, "", "", "", "input encoding key"},
    {"no target, Encode", IDC_ENCODE, "", "secret", "", "input file name to encode"},
    {"no target, Decode", IDC_DECODE, "", "secret", "", "input file name to encode"},
    {"no passphrase, Encode", IDC_ENCODE, "plain.bin", "", "<target>", "input encoding key"},
    {"no passphrase, Decode", IDC_DECODE, "plain.bin", "", "<target>", "input encoding key"},
    {"missing target, Encode", IDC_ENCODE, "missing.bin", "secret", "", "file open failed"},
    {"missing target, Decode", IDC_DECODE, "missing.bin", "secret", "", "file open failed"},
    {"folder as target, Encode", IDC_ENCODE, "sub", "secret", "", "file open failed"},
    {"already encoded", IDC_ENCODE, "encoded.bin", "secret", "<target>",
     "alreadly encoded by the passphrase"},
    {"decode a plain file", IDC_DECODE, "plain.bin", "secret", "<target>", "invalid key"},
    {"decode under another passphrase", IDC_DECODE, "encoded.bin", "other", "<target>",
     "invalid key"},
    {"long target", IDC_ENCODE, "<long>", "secret", "", "file name too long"},
    {"long output", IDC_DECODE, "encoded.bin", "secret", "<long>", "file name too long"},
    {"long passphrase", IDC_ENCODE, "plain.bin", "<long128>", "", "encoding key too long"},
    {"passphrase beyond the scratch buffer", IDC_DECODE, "encoded.bin", "<long300>", "",
     "encoding key too long"},
    {"target read first", IDC_ENCODE, "<long>", "", "", "file name too long"},
    {"passphrase read before output", IDC_ENCODE, "plain.bin", "<long128>", "<long>",
     "encoding key too long"},
    {"output is a folder", IDC_ENCODE, "plain.bin", "secret", "sub", "output is a folder"},
    {"output folder missing", IDC_ENCODE, "plain.bin", "secret", "nowhere\\out.bin",
     "output folder not found"},
    {"output read-only", IDC_DECODE, "encoded.bin", "secret", "readonly.bin",
     "output is read-only"},
};

TEST_F(KarvelTest, RefusalsShowTheirMessageAndKeepEverything) {
  const Bytes plain = PlainContent();
  WriteBytes(PathOf("plain.bin"), plain);
  WriteBytes(PathOf("encoded.bin"), Encoded(plain, "secret"));
  WriteBytes(PathOf("readonly.bin"), {1, 2, 3});
  SetFileAttributesA(PathOf("readonly.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA(PathOf("sub").c_str(), nullptr);
  StartKarvel();
  const std::string longPath = "C:\\" + std::string(karvel::kMaxPathUnits - 2, 'a');
  auto expand = [&](const std::string& name, const std::string& target) -> std::string {
    if (name.empty()) return "";
    if (name == "<long>") return longPath;
    if (name == "<target>") return target;
    return PathOf(name);
  };
  for (const RefusalCase& refusal : kRefusals) {
    SCOPED_TRACE(refusal.name);
    std::string target = expand(refusal.target, "");
    std::string passphrase = refusal.passphrase;
    if (passphrase == "<long128>") passphrase.assign(karvel::kMaxPassphraseLength + 1, 'k');
    if (passphrase == "<long300>") passphrase.assign(300, 'k');
    std::string output = expand(refusal.output, target);
    Bytes targetBefore = ReadBytes(target);
    Bytes outputBefore = ReadBytes(output);
    SetBoxes(target, passphrase, output);
    Command(refusal.command);
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.caption, "error");
    EXPECT_EQ(seen.text, refusal.text);
    ExpectBoxes(target, passphrase, output);
    EXPECT_EQ(ReadBytes(target), targetBefore);
    EXPECT_EQ(ReadBytes(output), outputBefore);
    EXPECT_FALSE(Exists(target + ".tmp"));
  }
  EXPECT_EQ(ReadBytes(PathOf("plain.bin")), plain);
  EXPECT_EQ(ReadBytes(PathOf("encoded.bin")), Encoded(plain, "secret"));
  EXPECT_FALSE(Exists(PathOf("nowhere")));
}

TEST_F(KarvelTest, OutputHeldOpenElsewhereIsNotReplaced) {
  const Bytes plain = PlainContent();
  WriteBytes(PathOf("plain.bin"), plain);
  WriteBytes(PathOf("held.bin"), {9, 9, 9});
  StartKarvel();
  HANDLE held = CreateFileA(PathOf("held.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  SetBoxes(PathOf("plain.bin"), "secret", PathOf("held.bin"));
  Command(IDC_ENCODE);
  MessageSeen seen = DismissMessage();
  CloseHandle(held);
  EXPECT_EQ(seen.caption, "error");
  EXPECT_EQ(seen.text, "output replace failed");
  ExpectBoxes(PathOf("plain.bin"), "secret", PathOf("held.bin"));
  EXPECT_EQ(ReadBytes(PathOf("held.bin")), (Bytes{9, 9, 9}));
  EXPECT_EQ(ReadBytes(PathOf("plain.bin")), plain);
}

// ---- Transforms: "done", the passphrase box emptied, the result checked byte for byte.

struct TransformCase {
  const char* name;
  WORD command;
  bool startEncoded;   // the target holds the encoding of the plain content
  const char* output;  // "" empty box, "<target>" the target's path, else a file name
  const char* text;
};

// The reference encoding has no record, as older writers made it: decoded in place, its encoded
// original steps aside, and the message says where to.
constexpr char kOriginalInTheBin[] = "done\n\nthe encoded original is in the Recycle Bin";

const TransformCase kTransforms[] = {
    {"encode in place, output box empty", IDC_ENCODE, false, "", "done"},
    {"encode in place, output names the target", IDC_ENCODE, false, "<target>", "done"},
    {"encode to another file", IDC_ENCODE, false, "result.bin", "done"},
    {"decode in place, output box empty", IDC_DECODE, true, "", kOriginalInTheBin},
    {"decode in place, output names the target", IDC_DECODE, true, "<target>", kOriginalInTheBin},
    {"decode to another file", IDC_DECODE, true, "result.bin", "done"},
};

TEST_F(KarvelTest, TransformsWriteTheirResultAndEmptyOnlyThePassphrase) {
  const std::string passphrase = "Secret key 1";
  const Bytes plain = PlainContent();
  const Bytes encoded = Encoded(plain, passphrase);
  StartKarvel();
  int row = 0;
  for (const TransformCase& transform : kTransforms) {
    SCOPED_TRACE(transform.name);
    std::string target = PathOf("target" + std::to_string(++row) + ".bin");
    std::string output = transform.output;
    if (output == "<target>") {
      output = target;
    } else if (!output.empty()) {
      output = PathOf(std::to_string(row) + output);
    }
    const Bytes& before = transform.startEncoded ? encoded : plain;
    WriteBytes(target, before);
    SetBoxes(target, passphrase, output);
    Command(transform.command);
    MessageSeen seen = DismissMessage();
    bool encoding = transform.command == IDC_ENCODE;
    EXPECT_EQ(seen.caption, encoding ? "karvel - encoding" : "karvel - decoding");
    EXPECT_EQ(seen.text, transform.text);
    ExpectBoxes(target, "", output);
    Bytes result = ReadBytes(output.empty() ? target : output);
    if (encoding) {
      ExpectEncodingOf(result, plain, passphrase);
    } else {
      EXPECT_EQ(result, plain);
    }
    if (!output.empty() && output != target) {
      EXPECT_EQ(ReadBytes(target), before);
    }
    EXPECT_FALSE(Exists(target + ".tmp"));
  }
}

TEST_F(KarvelTest, EncodingTwiceUnderOnePassphraseIsRefused) {
  const Bytes plain = PlainContent();
  std::string target = PathOf("twice.bin");
  WriteBytes(target, plain);
  StartKarvel();
  SetBoxes(target, "pass", target);
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
  SetBox(IDC_PASSPHRASE, "pass");
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "alreadly encoded by the passphrase");
  ExpectEncodingOf(ReadBytes(target), plain, "pass");
}

// ---- An older file decoded in place: the message says where its encoded original went.

// True when a file in the trash folder trash (Wine's, under XDG_DATA_HOME) holds bytes; earlier
// runs may have left files of that name, so the shell may have named it otherwise.
bool InTrash(const std::string& trash, const Bytes& bytes) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((trash + "\\files\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    found = ReadBytes(trash + "\\files\\" + entry.cFileName) == bytes;
  } while (!found && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

TEST_F(KarvelTest, AnOlderFileDecodedInPlaceSaysWhereItsOriginalIs) {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome == nullptr) GTEST_SKIP() << "XDG_DATA_HOME names no trash for this run";
  const std::string trash = std::string("Z:") + dataHome + "\\Trash";
  const std::string trashSetAside = trash + ".set-aside";
  const std::string passphrase = "Passphrase-16chr";  // a length the signature does not fully see
  const Bytes plain = PlainContent();
  const Bytes older = Encoded(plain, passphrase);  // without the record, as older writers made it
  struct Case {
    const char* name;
    bool trashIsAFile;
    std::string message;
    std::string original;  // beside it; "" for the Recycle Bin
  };
  const Case cases[] = {
      {"the Recycle Bin takes it", false, "done\n\nthe encoded original is in the Recycle Bin", ""},
      {"the Recycle Bin cannot take it", true,
       "done\n\nthe encoded original is kept as " + PathOf("older2.bin.encoded"),
       PathOf("older2.bin.encoded")},
  };
  StartKarvel();
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = PathOf("older" + std::to_string(++row) + ".bin");
    WriteBytes(target, older);
    if (c.trashIsAFile) {
      MoveFileA(trash.c_str(), trashSetAside.c_str());
      WriteBytes(trash, Bytes{'x'});
    }
    SetBoxes(target, passphrase, "");
    Command(IDC_DECODE);
    HWND box = WaitForWindow(kMessageBoxClass, nullptr, true);
    // The box may have only just been created: its paint comes when its thread is idle. Only the
    // picture waits on this; nothing is asserted of it.
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    SaveScreenshot(box, c.trashIsAFile ? "original-kept-beside" : "original-in-recycle-bin");
    MessageSeen seen = DismissMessage();
    if (c.trashIsAFile) {
      DeleteFileA(trash.c_str());
      MoveFileA(trashSetAside.c_str(), trash.c_str());
    }
    EXPECT_EQ(seen.caption, "karvel - decoding");
    EXPECT_EQ(seen.text, c.message);
    EXPECT_EQ(ReadBytes(target), plain);
    if (c.trashIsAFile) {
      EXPECT_EQ(ReadBytes(c.original), older);
      DeleteFileA(c.original.c_str());
    } else {
      EXPECT_TRUE(InTrash(trash, older));
    }
  }
}

// ---- Hostile and odd input: the window acts on the exact path in the box or on none.

// A path of exactly length characters inside folder. Windows makes no folder whose path is
// longer than 248 characters, so folders fill up to 200 and the file name takes the rest.
std::string DeepPath(const std::string& folder, size_t length) {
  std::string deep = folder;
  while (deep.size() < 200) {
    deep += "\\" + std::string(std::min<size_t>(40, 200 - deep.size()), 'd');
    CreateDirectoryA(deep.c_str(), nullptr);
  }
  return deep + "\\" + std::string(length - deep.size() - 1, 'f');
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// Beyond MAX_PATH, and beyond what Windows takes at all.
TEST_F(KarvelTest, LongPathsAreTakenAndTooLongOnesRefusedNotCut) {
  const Bytes plain = PlainContent();
  const std::string target = DeepPath(folder_, 300);
  std::string output = target;
  output.back() = 'g';
  WriteBytesW(Wide(target), plain);
  StartKarvel();

  SetBoxes(target, "deep", "");
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
  ExpectEncodingOf(ReadBytesW(Wide(target)), plain, "deep");
  SetBoxes(target, "deep", output);
  Command(IDC_DECODE);
  EXPECT_EQ(DismissMessage().text, "done");
  EXPECT_EQ(ReadBytesW(Wide(output)), plain);

  // Cut to the longest path, each of these would name a file in the same folder.
  const std::string longTarget =
      target + std::string(karvel::kMaxPathUnits + 1 - target.size(), 'x');
  const std::string longOutput =
      output + std::string(karvel::kMaxPathUnits + 1 - output.size(), 'x');
  for (WORD command : {IDC_ENCODE, IDC_DECODE}) {
    SetBoxes(longTarget, "deep", "");
    Command(command);
    EXPECT_EQ(DismissMessage().text, "file name too long");
    SetBoxes(target, "deep", longOutput);
    Command(command);
    EXPECT_EQ(DismissMessage().text, "file name too long");
    EXPECT_EQ(BoxText(IDC_PASSPHRASE), "deep");
  }
  ExpectEncodingOf(ReadBytesW(Wide(target)), plain, "deep");
  EXPECT_EQ(ReadBytesW(Wide(output)), plain);
  EXPECT_EQ(NamesIn(FolderOf(target)),
            (std::vector<std::string>{target.substr(target.rfind('\\') + 1),
                                      output.substr(output.rfind('\\') + 1)}));
}

TEST_F(KarvelTest, PassphrasesOf127AreTakenAndLongerOnesRefused) {
  const Bytes plain = PlainContent();
  std::string longest;
  for (size_t i = 0; i < karvel::kMaxPassphraseLength; ++i) {
    longest += static_cast<char>('!' + (i * 37) % 94);
  }
  const std::string target = PathOf("target.bin");
  WriteBytes(target, plain);
  StartKarvel();
  for (size_t extra : {1, 128}) {
    SCOPED_TRACE(127 + extra);
    const std::string tooLong = longest + std::string(extra, 'k');
    for (WORD command : {IDC_ENCODE, IDC_DECODE}) {
      SetBoxes(target, tooLong, "");
      Command(command);
      EXPECT_EQ(DismissMessage().text, "encoding key too long");
      ExpectBoxes(target, tooLong, "");
    }
  }
  EXPECT_EQ(ReadBytes(target), plain);

  RoundTripInPlace(target, longest, "", plain);
}

TEST_F(KarvelTest, WildcardsNeverReachTheFilesTheyMatch) {
  const Bytes plain = PlainContent();
  WriteBytes(PathOf("plain.bin"), plain);
  WriteBytes(PathOf("encoded.bin"), Encoded(plain, "secret"));
  WriteBytes(PathOf("out1.bin"), {7, 7, 7});
  const std::vector<std::string> names = NamesIn(folder_);
  struct Case {
    WORD command;
    const char* target;
    const char* output;
    const char* text;
  };
  const Case cases[] = {
      {IDC_ENCODE, "pla?n.bin", "", "file open failed"},
      {IDC_ENCODE, "*.bin", "", "file open failed"},
      {IDC_DECODE, "encod?d.bin", "", "file open failed"},
      {IDC_DECODE, "enc*", "out1.bin", "file open failed"},
      {IDC_ENCODE, "plain.bin", "out?.bin", "output replace failed"},
      {IDC_DECODE, "encoded.bin", "out*", "output replace failed"},
  };
  StartKarvel();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " to " + c.output);
    const std::string output = *c.output ? PathOf(c.output) : "";
    SetBoxes(PathOf(c.target), "secret", output);
    Command(c.command);
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.caption, "error");
    EXPECT_EQ(seen.text, c.text);
  }
  EXPECT_EQ(ReadBytes(PathOf("plain.bin")), plain);
  EXPECT_EQ(ReadBytes(PathOf("encoded.bin")), Encoded(plain, "secret"));
  EXPECT_EQ(ReadBytes(PathOf("out1.bin")), (Bytes{7, 7, 7}));
  EXPECT_EQ(NamesIn(folder_), names);
}

TEST_F(KarvelTest, CodePageCharactersInThePassphraseAreItsBytes) {
  const std::string passphrase =
      "caf\xE9 \xFC"
      "ber";  // cafe and uber with their accents in 1252
  const Bytes plain = PlainContent();
  const std::string target = PathOf("target.bin");
  WriteBytes(target, plain);
  StartKarvel();
  SCOPED_TRACE("ANSI code page " + std::to_string(GetACP()));
  RoundTripInPlace(target, passphrase, "", plain);
}

TEST_F(KarvelTest, EmptyAndHeaderSizedFilesRoundTrip) {
  StartKarvel();
  for (size_t size : {size_t{0}, karvel::kHeaderSize}) {
    SCOPED_TRACE(size);
    Bytes plain(size);
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<unsigned char>(255 - i);
    const std::string target = PathOf("file" + std::to_string(size));
    WriteBytes(target, plain);
    RoundTripInPlace(target, "small", target, plain);
  }
  EXPECT_EQ(NamesIn(folder_), (std::vector<std::string>{"file0", "file128"}));
}

}  // namespace
}  // namespace karvel::window
