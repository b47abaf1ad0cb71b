#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/runloop/job_threads.h"

namespace kestio {

// The play log's writer: a thread of its own that prints each line to the console and appends
// it to the open log file, in the order the lines and reopenings were handed over, so that a
// slow or missing disk never stalls the thread that logs. The file is opened for appending
// (created when missing, never truncated); a file that cannot be opened is a console line and
// the lines after it go to the console only.
//
// write() and reopen() may be called from any thread and never wait for the disk.
class PlayLog {
  public:
    PlayLog();
    // Writes the lines already handed over, closes the file and ends the thread.
    ~PlayLog();
    PlayLog(const PlayLog&) = delete;
    PlayLog& operator=(const PlayLog&) = delete;

    // Prints "📝 " + line and appends line + "\n" to the open file.
    void write(std::string line);
    // Closes the open file and opens `file` for appending (none: no file).
    void reopen(std::optional<std::filesystem::path> file);
    // Blocks until everything handed over before the call is done. For tests and shutdown.
    void flush();

  private:
    void open(const std::optional<std::filesystem::path>& file);
    void append(const std::string& line);
    void close();

    // The writer thread's own: the open file descriptor (-1: none).
    int fd_ = -1;
    // Declared last: it ends (writing what is queued) before the rest goes.
    platform::SerialWorker worker_;
};

}  // namespace kestio
