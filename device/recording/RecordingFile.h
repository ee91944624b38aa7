#pragma once
// Writing a recording as the run goes, and reading one back.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/recording/RecordingFormat.h"

namespace velmora::recording {

// Writes the header, then each exchange as it ends, numbered in that order. Every
// line reaches the file before the call returns, so a run killed at any moment
// leaves a file that is whole up to its last line. Used from several threads at once.
class RecordingWriter {
public:
    // Creates the file anew, for this user alone (0600), replacing what stood at
    // path without writing into it; null with error when it cannot be written.
    static std::unique_ptr<RecordingWriter> create(const std::string& path, const RecordingHeader& header,
                                                   std::string& error);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Numbers the exchange and writes it.
    void write(Exchange exchange);
    // The first write that failed (a full disk), or empty.
    std::string problem() const;

private:
    RecordingWriter(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}
    void writeLine(const std::string& line);  // with mutex_ held

    mutable std::mutex mutex_;
    std::FILE* file_;
    std::string path_;
    std::uint64_t next_ = 1;
    std::string problem_;
};

struct Recording {
    RecordingHeader header;
    std::vector<Exchange> exchanges;
    // The file ended inside a line (a run killed while writing it): that line is left out.
    bool cutShort = false;
};

// Reads a whole recording. Refuses, with the reason in error, a file that is no
// recording, one of a newer format, and a damaged line before the last.
bool readRecording(const std::string& path, Recording& recording, std::string& error);
bool parseRecording(const std::string& text, Recording& recording, std::string& error);

}  // namespace velmora::recording
