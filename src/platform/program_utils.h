// Starting and closing other programs for the event actions: a detached
// program start in a working directory, and the process list read from /proc.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// Splits a command line into words the way a POSIX shell does, without any
// expansion: blanks separate words, '...' is literal, "..." is literal except
// for \" \\ \$ \` escapes, and a backslash outside quotes takes the next
// character as it is. A quote left open runs to the end of the line.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Starts the command line (no shell runs) as a detached process in its own
// session, in the given working directory when that is non-empty and can be
// entered, else in this process's own working directory. This process's own
// working directory never changes and no child is left to reap. A program
// name without '/' is looked up in PATH; a relative path counts from the
// directory the program starts in. True when the program was executed;
// false when the line is empty or the program cannot be found or executed.
// Waits for the exec: a program or directory on a hung file system blocks
// the caller, so the window runs it on a worker thread.
bool RunProgram(const std::string& commandLine, const std::string& directory);

struct TProcessInfo {
    int Pid = 0;
    std::string ExeName;  // last component of the executable's name
};

// True when the process list can be read (/proc is mounted).
bool ProcessListAvailable(const std::string& procRoot = "/proc");

// Every process in ascending pid order with its executable name: the last
// component of the exe link without a trailing " (deleted)"; where the link
// cannot be read, the last component of argv[0] when comm is a prefix of it,
// else comm. Processes that end during the scan are left out.
std::vector<TProcessInfo> ListProcesses(const std::string& procRoot = "/proc");

// The text after the last '/'.
std::string_view LastPathComponent(std::string_view path);

// Sends SIGTERM to the last process, in pid order, whose executable name
// equals the last component of fileName exactly (case-sensitive). This
// program itself is not exempt; SIGTERM closes it in order. Returns the pid
// signalled, or 0 when nothing matched or the list is not available.
int CloseProgramByFile(const std::string& fileName);

}  // namespace tarvik
