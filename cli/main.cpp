// karvel-cli: the window's encode and decode for files named on the command
// line, on the same engine, with the same texts and passphrase bytes.
#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/passphrase.h"
#include "cli/progress_line.h"
#include "cli/system.h"
#include "engine/encoding_job.h"
#include "engine/file_services.h"
#include "engine/operations.h"
#include "engine/stream_transform.h"
#include "engine/wipe.h"
#include "res/version.h"

namespace karvel::cli {

namespace {

// Documented in the help's footer and the manual page.
constexpr int kExitDone = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInvalidKey = 3;
constexpr int kExitDamaged = 4;
// Not an exit code: the program ends as the interruption that cancelled the FILE.
constexpr int kCancelled = -1;

constexpr char kExitCodes[] =
    "Exit codes:\n"
    "  0    every FILE done\n"
    "  1    a FILE could not be read, written or put in place, or was refused as it is\n"
    "  2    usage: the arguments or the passphrase cannot be used; no FILE touched\n"
    "  3    invalid key: a FILE is not encoded under the passphrase\n"
    "  4    a FILE is damaged\n"
    "  When FILEs fail in different ways, the first one's code. Ctrl+C, a hang-up,\n"
    "  SIGTERM, SIGQUIT or SIGPIPE cancels the running FILE, leaving it as it was, and\n"
    "  ends the program as that signal does; a FILE already past its last step is done.";

// Older files check neither the whole passphrase nor the content: see the manual page.
constexpr char kOlderFiles[] =
    "\n\nOlder files (from other programs or older versions) decoded in place, under a\n"
    "passphrase whose length they do not fully check, keep their encoded original:\n"
    "it goes to the trash, or where the trash cannot take it, stays beside the\n"
    "result as FILE.encoded. The file's line says where; restore it from there.";

constexpr char kPipes[] =
    "\n\nFILE - reads standard input and writes standard output, as does -o - for a FILE:\n"
    "  tar c dir | karvel-cli encode --passphrase-file key - > dir.tar.karvel\n"
    "  karvel-cli decode --passphrase-file key - < dir.tar.karvel | tar x\n"
    "  karvel-cli verify --passphrase-file key dir.tar.karvel\n"
    "Decoding to standard output checks the content at its end: exit code 4 says that\n"
    "what was written is not the content that was encoded.";

// The name that stands for standard input as FILE and for standard output as OUTPUT.
constexpr char kStandardStream[] = "-";

// From the start of a transform until its progress shows, as in the window.
constexpr std::chrono::milliseconds kProgressDelay{500};
constexpr std::chrono::milliseconds kWatchInterval{100};

struct Command {
  const char* name;
  const char* help;
  const char* doneWord;        // for the summary
  const Operation* operation;  // nullptr: the FILEs are checked, nothing is written
};

const Command kCommands[] = {
    {"encode", "Encode each FILE under the passphrase", "encoded", &kEncode},
    {"decode", "Decode each FILE under the passphrase", "decoded", &kDecode},
    {"verify", "Check each FILE's passphrase and content; write nothing", "verified", nullptr},
};

// What the options say; each subcommand takes them, and so does the program before it.
struct Settings {
  std::string output;
  bool force = false;
  std::string passphraseFile;
  PassphraseSource source;
};

struct Passphrase {
  ~Passphrase() { Wipe(bytes, sizeof bytes); }
  char bytes[kPassphraseFieldSize];
};

// The status of a FILE that was not done.
int ExitCodeFor(JobStatus status) {
  switch (status) {
    case JobStatus::HeaderMismatch:
      return kExitInvalidKey;
    case JobStatus::Damaged:
      return kExitDamaged;
    case JobStatus::NoTargetPath:
      return kExitUsage;
    default:
      return kExitFileFailed;
  }
}

void Say(const std::string& line) { WriteError(line + "\n"); }

// Control characters in a name would move the terminal's cursor or change its colours.
std::string Shown(const std::string& name) {
  std::string shown = name;
  for (char& byte : shown) {
    if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7F) byte = '?';
  }
  return shown;
}

// Runs the transform, which an interruption cancels, while a second thread shows, on a
// terminal, how far it has come once it has lasted kProgressDelay and its size is known.
JobStatus RunWatched(const std::string& name, const std::function<JobStatus(JobProgress*)>& run) {
  JobProgress progress;
  CancelOnInterrupt(&progress.cancelRequested);
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
  std::thread watcher([&] {
    const bool terminal = ErrorIsTerminal();
    const auto start = std::chrono::steady_clock::now();
    bool shown = false;
    std::unique_lock<std::mutex> lock(mutex);
    while (!ended.wait_for(lock, kWatchInterval, [&] { return finished; })) {
      std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
      if (!terminal || elapsed < kProgressDelay || progress.bytesTotal == 0) continue;
      WriteError("\r" +
                 ProgressLine(name, progress.bytesDone, progress.bytesTotal, elapsed.count()));
      shown = true;
    }
    if (shown) WriteError("\r" + std::string(kProgressColumns, ' ') + "\r");
  });
  JobStatus status = run(&progress);
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  ended.notify_one();
  watcher.join();
  CancelOnInterrupt(nullptr);
  return status;
}

// Where an older file's original went, for the file's line; "" when it is where it was.
std::string OriginalNote(const EncodingJob& job) {
  switch (job.originalPlace) {
    case OriginalPlace::None:
      break;
    case OriginalPlace::Trash:
      return std::string("; the encoded original is in ") + kTrashName;
    case OriginalPlace::Beside:
      return "; the encoded original is kept as " + Shown(job.originalPath);
  }
  return "";
}

// Why a FILE failed, where more is known than its status says: what the system said, or whether
// the file shows that it was encoded at all; "" otherwise.
std::string Cause(JobStatus status, bool recordFound, int systemError) {
  if (status == JobStatus::HeaderMismatch) {
    // Only a record tells a wrong passphrase from a file that was never encoded.
    return recordFound ? ": the file was encoded under another passphrase"
                       : ": not encoded under this passphrase, or never encoded";
  }
  if (systemError == 0) return "";
  char text[kErrorTextSize];
  ErrorText(systemError, text, sizeof text);
  return std::string(": ") + text;
}

// True when output names a file other than target, through links too: one that -o would replace.
// Left to the transform where either cannot be told, or output is no file it could replace.
bool ReplacesAnother(const std::string& target, const std::string& output) {
  FileServices& files = SystemFileServices();
  SystemPath targetPath, outputPath, final;
  FileIdentity read;
  FileIdentity replaced;
  if (files.Prepare(target.c_str(), &targetPath) != PathForm::Ok ||
      files.Prepare(output.c_str(), &outputPath) != PathForm::Ok ||
      !files.ResolveLinks(outputPath, &final) || files.Inspect(final) != PathKind::File ||
      !files.IdentifyPath(final, &replaced) || !files.IdentifyPath(targetPath, &read)) {
    return false;
  }
  return read.volume != replaced.volume || read.index != replaced.index;
}

// Checks and transforms one FILE as the window does, and says how it went; returns its exit code,
// or kCancelled.
int RunFile(const Command& command, const std::string& target, const Settings& settings,
            const char* passphrase) {
  const std::string& output = settings.output;
  if (!output.empty() && !settings.force && ReplacesAnother(target, output)) {
    Say(Shown(target) + ": " + Shown(output) + " exists: give --force to replace it");
    return kExitFileFailed;
  }
  auto job = std::make_unique<EncodingJob>();  // three path fields of 96 KiB each
  JobStatus status = job->SetTargetPath(target.c_str());
  if (status == JobStatus::Ok) status = job->SetPassphrase(passphrase);
  if (status == JobStatus::Ok) status = job->SetOutputPath(output.c_str());
  if (status == JobStatus::Ok) status = command.operation->Check(*job);
  const std::string name = Shown(target);
  if (status == JobStatus::Ok) {
    status = RunWatched(name, [&](JobProgress* progress) {
      return command.operation->Run(*job, SystemFileServices(), progress);
    });
  }
  Say(name + ": " + StatusText(status) + Cause(status, job->recordFound, job->systemError) +
      OriginalNote(*job));
  if (status == JobStatus::Cancelled) return kCancelled;
  return status == JobStatus::Ok ? kExitDone : ExitCodeFor(status);
}

// What a stream's content shows of its damage, known from its record; "" when it has none.
std::string DamageCause(const StreamOutcome& outcome) {
  if (!outcome.recordFound) return ": its header is damaged";
  const std::string encoded = std::to_string(outcome.recordedLength);
  if (outcome.contentLength < outcome.recordedLength) {
    return ": its content ends after " + std::to_string(outcome.contentLength) + " of " + encoded +
           " bytes";
  }
  if (outcome.contentLength > outcome.recordedLength) {
    return ": its content has " + std::to_string(outcome.contentLength) + " bytes where " +
           encoded + " were encoded";
  }
  return ": its content is not the one that was encoded";
}

// What a FILE's line says of a check that passed.
std::string Checked(const StreamOutcome& outcome) {
  return outcome.recordFound
             ? "passphrase and content checked"
             : "header checked; an older file without a record: its content cannot be checked";
}

// Checks a FILE, or transforms one from standard input or to standard output, where nothing is
// replaced, and says how it went; returns its exit code, or kCancelled.
int RunStream(const Command& command, const std::string& target, const char* passphrase) {
  FileServices& files = SystemFileServices();
  const bool fromInput = target == kStandardStream;
  const std::string name = Shown(target);
  StreamOutcome outcome;
  JobStatus status = JobStatus::Ok;
  SystemPath path;
  FileHandle input = kNoFile;
  if (fromInput) {
    input = files.StandardInput();
  } else if (files.Prepare(target.c_str(), &path) == PathForm::Ok) {
    input = files.OpenForReading(path);
  }
  if (input == kNoFile) {
    status = JobStatus::OpenFailed;
    outcome.systemError = files.LastError();
  } else {
    status = RunWatched(name, [&](JobProgress* progress) {
      if (command.operation == nullptr) {
        return DecodeStream(files, input, kNoFile, passphrase, progress, &outcome);
      }
      auto transform = command.operation == &kEncode ? EncodeStream : DecodeStream;
      return transform(files, input, files.StandardOutput(), passphrase, progress, &outcome);
    });
    if (!fromInput) files.Close(input);
  }
  if (status == JobStatus::Ok) {
    Say(name + ": " + (command.operation == nullptr ? Checked(outcome) : StatusText(status)));
    return kExitDone;
  }
  Say(name + ": " + StatusText(status) +
      (status == JobStatus::Damaged ? DamageCause(outcome)
                                    : Cause(status, outcome.recordFound, outcome.systemError)));
  return status == JobStatus::Cancelled ? kCancelled : ExitCodeFor(status);
}

// Why the FILEs and OUTPUT cannot be taken together, where standard input or output are among
// them or nothing is written; "" when they can.
std::string StreamRefusal(const Command& command, const std::vector<std::string>& files,
                          const std::string& output, int passphraseDescriptor) {
  if (command.operation == nullptr && !output.empty()) return "verify writes nothing: no -o";
  bool fromInput = false;
  for (const std::string& file : files) fromInput = fromInput || file == kStandardStream;
  if (!fromInput) return "";
  if (files.size() != 1) return "FILE - (standard input) must be the only FILE";
  if (!output.empty() && output != kStandardStream) {
    return "FILE - writes standard output: redirect it instead of -o";
  }
  if (passphraseDescriptor == 0) {
    return "--passphrase-fd 0 is standard input, which FILE - reads: give the passphrase on "
           "another descriptor, by --passphrase-file or on the terminal";
  }
  return "";
}

// The options every subcommand takes, added to app.
void AddOptions(CLI::App* app, Settings& settings) {
  app->add_option("-o,--output", settings.output,
                  "Write the result to OUTPUT (one FILE only), - for\n"
                  "standard output; a new file unless --force; through\n"
                  "a link there, to the file it leads to, kept a link")
      ->type_name("OUTPUT");
  app->add_flag("--force", settings.force, "Replace an OUTPUT that exists");
  app->add_option("--passphrase-file", settings.passphraseFile, "Passphrase: FILE's first line")
      ->type_name("FILE");
  app->add_option("--passphrase-fd", settings.source.descriptor,
                  "Passphrase: the first line of descriptor N")
      ->type_name("N")
      ->check(CLI::NonNegativeNumber.description(""));
  app->add_option("--code-page", settings.source.codePage,
                  "The passphrase's bytes beyond ASCII: those of the\n"
                  "Windows ANSI code page N that opens the file in the\n"
                  "window (874, 932, 936, 949, 950, 1250-1258, 65001)")
      ->type_name("N")
      ->check(CLI::IsMember(std::vector<int>(std::begin(kCodePages), std::end(kCodePages)))
                  .description(""));
}

// How often option was given, before the subcommand and after it.
size_t Given(const CLI::App& app, const Command& command, const char* option) {
  return app.count(option) + app.get_subcommand(command.name)->count(option);
}

// A first word that names no subcommand is taken for a mistyped one; "" when there is none.
std::string UnknownSubcommand(const CLI::App& app) {
  if (!app.get_subcommands().empty()) return "";
  for (const std::string& word : app.remaining()) {
    if (word.empty() || word[0] == '-') continue;
    std::string names;
    for (const Command& command : kCommands) {
      names += std::string(names.empty() ? "" : ", ") + command.name;
    }
    return "karvel-cli: unknown subcommand '" + Shown(word) + "'; the subcommands are " + names;
  }
  return "";
}

int Run(std::vector<std::string> arguments) {
  CLI::App app(
      "Encodes and decodes files under a passphrase as the karvel window does, each FILE\n"
      "in place or into OUTPUT. The passphrase is asked on the terminal, twice to encode,\n"
      "unless a file or a descriptor gives it.",
      "karvel-cli");
  app.set_version_flag("--version", "karvel-cli " KARVEL_VERSION);
  app.footer(std::string(kExitCodes) + kOlderFiles + kPipes);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& error) {
    return std::string("karvel-cli: ") + error.what() + "\nRun karvel-cli --help for more.\n";
  });

  std::vector<std::string> files;
  Settings settings;
  AddOptions(&app, settings);
  for (const Command& command : kCommands) {
    CLI::App* subcommand = app.add_subcommand(command.name, command.help);
    AddOptions(subcommand, settings);
    subcommand->add_option("FILE", files, "The files, each on its own; - for standard input")
        ->type_name("")
        ->required();
    subcommand->fallthrough();
  }

  // CLI11 takes the arguments last first, without the program's name.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    const std::string unknown = error.get_exit_code() == 0 ? "" : UnknownSubcommand(app);
    if (unknown.empty()) return app.exit(error) == 0 ? kExitDone : kExitUsage;
    Say(unknown);
    return kExitUsage;
  }
  const Command* command = &kCommands[0];
  for (const Command& each : kCommands) {
    if (app.got_subcommand(each.name)) command = &each;
  }
  const bool fromFile = Given(app, *command, "--passphrase-file") > 0;
  if (fromFile && Given(app, *command, "--passphrase-fd") > 0) {
    Say("karvel-cli: --passphrase-file and --passphrase-fd exclude each other");
    return kExitUsage;
  }
  if (!settings.output.empty() && files.size() != 1) {
    Say("karvel-cli: -o takes one FILE");
    return kExitUsage;
  }
  const std::string streamRefusal =
      StreamRefusal(*command, files, settings.output, settings.source.descriptor);
  if (!streamRefusal.empty()) {
    Say("karvel-cli: " + streamRefusal);
    return kExitUsage;
  }

  CatchInterrupts();
  Passphrase passphrase;
  PassphraseSource& source = settings.source;
  if (fromFile) source.file = settings.passphraseFile.c_str();
  source.confirm = command->operation != nullptr && command->operation->confirmsPassphrase;
  std::string refusal = ReadPassphrase(source, passphrase.bytes);
  if (Interrupted()) EndAsInterrupted();
  if (!refusal.empty()) {
    Say("karvel-cli: " + refusal);
    return kExitUsage;
  }

  // An interruption that comes after a FILE's last step leaves it done: the program then stops
  // before the next FILE, or, after the last, ends as though none had come.
  int exitCode = kExitDone;
  size_t done = 0;
  bool cancelled = false;
  for (const std::string& file : files) {
    const bool stream = command->operation == nullptr || file == kStandardStream ||
                        settings.output == kStandardStream;
    int code = Interrupted() ? kCancelled
               : stream      ? RunStream(*command, file, passphrase.bytes)
                             : RunFile(*command, file, settings, passphrase.bytes);
    cancelled = code == kCancelled;
    if (cancelled) break;
    if (code == kExitDone) ++done;
    if (exitCode == kExitDone) exitCode = code;
  }
  Say(std::string("karvel-cli: ") + command->doneWord + " " + std::to_string(done) + " of " +
      std::to_string(files.size()) + (files.size() == 1 ? " file" : " files"));
  if (cancelled) EndAsInterrupted();
  return exitCode;
}

}  // namespace

}  // namespace karvel::cli

int main(int argc, char** argv) { return karvel::cli::Run(karvel::cli::Arguments(argc, argv)); }
