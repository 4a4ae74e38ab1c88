#pragma once

// The port's log as zelport reads it: where it is, its lines and errors,
// advice for an error, `zelport log`, and the watch that explains a failed
// print from what the log recorded meanwhile.

#include <cstddef>
#include <string>
#include <vector>

#include "zelport/Arguments.h"
#include "zelport/Failure.h"

namespace zelport {

// The folder, ending in a backslash, where the monitor writes port logs: DIR
// when given, else the spooler's temporary folder.
std::wstring PortLogFolder(const std::wstring& dir);

// The port log's file name in `folder` (which ends with a backslash): the
// monitor puts the port name into it unchanged, colon and all. (On NTFS the
// colon makes the name a stream ".log" of a file without the extension, which
// CreateFileW opens as it opens a plain file.)
std::wstring PortLogName(const std::wstring& folder, const std::wstring& port);

// The last `count` of `lines` (all of them when there are fewer); with
// `problemsOnly`, the last `count` of the problem lines.
std::vector<std::string> LastLines(const std::vector<std::string>& lines, std::size_t count,
                                   bool problemsOnly);

// The error lines after the last one that says a job was done (all of them
// when none does): what went wrong since the port last worked.
std::vector<std::string> ErrorsSinceLastJob(const std::vector<std::string>& lines);

std::string LastErrorLine(const std::vector<std::string>& lines);

// What an administrator should do about an error line of `port`'s log;
// empty when there is no advice beyond the line itself.
std::wstring AdviceFor(const std::string& errorLine, const std::wstring& port);

// The log is Latin-1; each byte is the character of the same value.
std::wstring FromLatin1(const std::string& text);

// Watches a printer's port log across a print: a failure then names what the
// log recorded meanwhile.
class PortLogWatch {
public:
    explicit PortLogWatch(const std::wstring& printer);
    // Adds the port's last new error line, and advice for it, to `failure`.
    void Explain(Failure& failure) const;

private:
    std::wstring port_;
    std::wstring path_;
    unsigned long long start_ = 0;
};

int RunLog(const Command& command);

} // namespace zelport
