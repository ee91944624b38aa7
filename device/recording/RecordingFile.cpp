#include "device/recording/RecordingFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/Json.h"
#include "app/OutputFiles.h"
#include "app/SafeFile.h"

namespace velmora::recording {

std::unique_ptr<RecordingWriter> RecordingWriter::create(const std::string& path,
                                                         const RecordingHeader& header, std::string& error) {
    // A new file for this user alone (a recording holds the hubs' serial numbers
    // and every byte of their flash that was read): never through a link another
    // user planted, never into a FIFO, a device or the file that stood there.
    const int descriptor = createPrivateOutput(path, error);
    if (descriptor < 0) return nullptr;
    std::FILE* file = ::fdopen(descriptor, "w");
    if (file == nullptr) {
        error = std::strerror(errno);
        ::close(descriptor);
        return nullptr;
    }
    std::unique_ptr<RecordingWriter> writer(new RecordingWriter(file, path));
    std::lock_guard lock(writer->mutex_);
    writer->writeLine(headerLine(header));
    if (!writer->problem_.empty()) {
        error = writer->problem_;
        return nullptr;
    }
    return writer;
}

RecordingWriter::~RecordingWriter() {
    std::fclose(file_);
}

void RecordingWriter::write(Exchange exchange) {
    std::lock_guard lock(mutex_);
    exchange.number = next_++;
    writeLine(exchangeLine(exchange));
}

void RecordingWriter::writeLine(const std::string& line) {
    if (!problem_.empty()) return;
    // One line, then out of the process's buffer: what a kill leaves is whole lines.
    if (std::fputs(line.c_str(), file_) < 0 || std::fputc('\n', file_) == EOF || std::fflush(file_) != 0)
        problem_ = std::strerror(errno);
}

std::string RecordingWriter::problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

bool parseRecording(const std::string& text, Recording& recording, std::string& error) {
    recording = Recording{};
    std::size_t start = 0;
    std::size_t lineNumber = 0;
    bool headerRead = false;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool lastLine = end == std::string::npos;
        if (lastLine) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.empty()) continue;
        JsonValue value;
        std::string why;
        const bool parsed = parseLine(line, value, why);
        if (!parsed && lastLine && headerRead) {
            // A line without its end: the run was killed while writing it.
            recording.cutShort = true;
            break;
        }
        if (!headerRead) {
            if (!parsed || !headerFromJson(value, recording.header, why)) {
                error = why;
                return false;
            }
            headerRead = true;
            continue;
        }
        Exchange exchange;
        if (!parsed || !exchangeFromJson(value, exchange, why)) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        recording.exchanges.push_back(std::move(exchange));
    }
    if (!headerRead) {
        error = "it is empty";
        return false;
    }
    return true;
}

bool readRecording(const std::string& path, Recording& recording, std::string& error) {
    const std::optional<std::string> text = readRegularFile(path, error);
    return text && parseRecording(*text, recording, error);
}

}  // namespace velmora::recording
