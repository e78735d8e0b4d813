#pragma once

#include "core/common/Date.hpp"
#include "core/common/Url.hpp"
#include "core/scan/ScanEngine.hpp"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombrelo::cli {

enum ExitCode : int {
    exitSuccess = 0,
    exitFailure = 1,
    exitUsage = 2,
    exitStoppedEarly = 4,
    exitInterrupted = 130,
};

// A mistake in the command line; reported with the command's usage and exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options and operands of one command. Options are "--name", "--name VALUE" or "--name=VALUE";
// "--" ends the options.
class Arguments {
public:
    // `flags` take no value; `valued` take one; `repeatable` valued options may appear again.
    Arguments(const std::vector<std::string>& raw, const std::vector<std::string>& flags,
              const std::vector<std::string>& valued,
              const std::vector<std::string>& repeatable = {});

    bool has(const std::string& name) const;
    std::optional<std::string> value(const std::string& name) const;
    std::vector<std::string> values(const std::string& name) const;
    const std::vector<std::string>& operands() const { return operands_; }
    // A whole number within [minimum, maximum], or the fallback when absent.
    std::int64_t integer(const std::string& name, std::int64_t fallback, std::int64_t minimum,
                         std::int64_t maximum) const;

private:
    std::map<std::string, std::vector<std::string>> options_;
    std::vector<std::string> operands_;
};

struct Command {
    std::string name;
    std::string summary;
    // Full text for "ombrelo-cli NAME --help".
    std::string help;
    std::function<int(const std::vector<std::string>&)> run;
    // Position in the command list of the tool's help.
    int order = 100;
    // What the operands are, for shell completion: "folder", "path", "report" or "" for none.
    std::string operand;
};

// The tool's own help, also the start of the manual page.
std::string toolHelp();
// The manual page in roff, made from the tool's and every command's help.
std::string manualPage();
// A completion script for "bash" or "zsh", made from the commands' help; empty for another shell.
std::string completionScript(const std::string& shell);

// Each command's source file registers itself with a static instance of this.
struct CommandRegistration {
    explicit CommandRegistration(Command command);
};

const std::vector<Command>& registeredCommands();

// Runs `work` as a task that Ctrl-C cancels. Returns what the work returned; maps
// CancellationError to 130 and other errors to a message on stderr and 1.
int runCancellable(const std::function<int()>& work);

// An absolute, standardised folder URL for a path from the command line (relative to the current
// folder); symbolic links are kept so that the core can judge them, except those before a ".."
// (see `standardizedPath`). Throws UsageError naming `what`.
varnok::Url folderArgument(const std::string& operand, const std::string& what = "the folder");
// The one folder operand of a command that scans, or the current folder when none is given.
varnok::Url scannedFolder(const Arguments& args, const std::string& tooMany);
// Short options written out long: "-x" is "--one-file-system". Stops at "--".
std::vector<std::string> withLongOptions(const std::vector<std::string>& raw);
// The options every scanning command takes.
inline const std::vector<std::string> scanFlags{"one-file-system", "disk-usage", "bytes"};
inline const std::vector<std::string> scanRepeatable{"exclude"};
// -x and --exclude as scan options; throws UsageError for an empty or absolute pattern.
varnok::ScanOptions scanOptions(const Arguments& args);
// Says which folders were left out (other file systems, excluded entries) in `indent`ed lines.
void printLeftOut(const varnok::ScanResult& result, const char* indent, std::FILE* out = stdout);

// An absolute path without "." and "..", where ".." means what it means to the system: the parent
// of a link's target, as `cd link/.. && pwd -P` finds it. So the part up to the last ".." has its
// links resolved; the rest is kept as written.
std::string standardizedPath(const std::string& absolute);
// Says plainly on stderr why `path` cannot be used as a folder (missing, a link loop, not a
// folder, unreadable) and returns true; false when it looks usable.
bool reportUnusableFolder(const std::string& path);
// Says on stderr that `folder` is one of the system's own folders, which no command searches, and
// returns true; false for any other folder.
bool reportSystemFolder(const varnok::Url& folder);

// Flushes stdout; prints a message and returns false when the output could not be written.
bool finishOutput();

// "ombrelo-cli: MESSAGE" on stderr, with the system's reason for file errors. A file error names
// its whole path and says "folder" when the path is one.
void printError(const std::exception& error);
// What a usage error prints: the message, the command's usage lines (its help up to the first
// blank line) and where the full help is.
std::string usageErrorText(const std::string& command, const std::string& message,
                           const std::string& help);

// The shape of every --json document; scripts read it from the top-level "version".
inline constexpr int jsonVersion = 1;
// ISO 8601 local time with its offset, "2026-12-07T09:41:07+01:00", as every --json output writes
// times.
std::string isoTime(varnok::Date date);
std::string isoTimeOfUnixSeconds(std::int64_t seconds);

// Decimal units, as a file manager shows sizes: "512 bytes", "1.2 kB", "34.5 MB", "1.23 GB".
std::string formatBytes(std::int64_t bytes);
// `formatBytes`, or with `exact` (--bytes) the whole count of bytes in digits, as `du -b` prints
// it.
std::string formatSize(std::int64_t bytes, bool exact);
// 1234567 -> "1,234,567".
std::string formatCount(std::int64_t count);
// "1 file", "2,048 files".
std::string counted(std::int64_t count, const char* singular, const char* plural);
// The path as printed for pasting into a shell, as ls quotes names: unchanged when it holds only
// printable UTF-8, else $'...' with escapes for control characters and bytes that are not UTF-8.
std::string pastablePath(std::string_view path);

// One status line on stderr, redrawn at most 10 times a second and only when stderr is a
// terminal. Cleared when done.
class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    void update(const std::string& text);
    void clear();

private:
    bool enabled_;
    bool shown_ = false;
    std::int64_t lastDrawMs_ = -1000;
};

} // namespace ombrelo::cli
