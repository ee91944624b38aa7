#pragma once
// Diagnostic lines (the console log): never shown in the window. The program sends
// them to the system log, the command line to stderr when asked, tests to memory.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

class Console {
public:
    virtual ~Console() = default;
    virtual void line(std::string_view text) = 0;
};

class SyslogConsole final : public Console {
public:
    void line(std::string_view text) override;
};

class StderrConsole final : public Console {
public:
    void line(std::string_view text) override;
};

class SilentConsole final : public Console {
public:
    void line(std::string_view) override {}
};

class RecordingConsole final : public Console {
public:
    void line(std::string_view text) override;
    std::vector<std::string> lines() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace velmora
