#pragma once

// What zelport reads out of a port's log and a port's settings, as rules that
// need no system call: the log's lines, its last error, advice for it, and the
// checks of names and commands an administrator types.

#include <cstddef>
#include <string>
#include <vector>

namespace zelport {

// The port log's file name in `folder` (which ends with a backslash): the
// monitor puts the port name into it unchanged, colon and all.
std::wstring PortLogName(const std::wstring& folder, const std::wstring& port);

// The log's bytes as lines, without their CR LF; a last line without its line
// end (one being written) counts as a line.
std::vector<std::string> LogLines(const std::string& bytes);

// The lines the monitor marks as a warning or an error.
bool IsProblemLine(const std::string& line);

// The last `count` of `lines` (all of them when there are fewer); with
// `problemsOnly`, the last `count` of the problem lines.
std::vector<std::string> LastLines(const std::vector<std::string>& lines, std::size_t count,
                                   bool problemsOnly);

// The last error line, or empty.
std::string LastErrorLine(const std::vector<std::string>& lines);

// What an administrator should do about an error line of `port`'s log;
// empty when there is no advice beyond the line itself.
std::wstring AdviceFor(const std::string& errorLine, const std::wstring& port);

// The log is Latin-1; each byte is the character of the same value.
std::wstring FromLatin1(const std::string& text);

// The program at the start of a dispatcher command: the quoted part, or
// everything up to the first blank.
std::wstring DispatcherProgram(const std::wstring& command);

// Why add-port should not take this name without --force, or empty.
std::wstring PortNameProblem(const std::wstring& name);

// Why set-dispatcher should not take this command without --force, or empty.
std::wstring DispatcherCommandProblem(const std::wstring& command);

} // namespace zelport
