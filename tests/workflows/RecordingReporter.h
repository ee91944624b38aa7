#pragma once
// A front end for tests: keeps the status pane as the window would (one colour for
// the whole text), and the order of every call.
#include <functional>
#include <string>
#include <vector>

#include "workflows/WorkflowReporter.h"

namespace velmora::testing {

enum class PaneColour { None, Blue, Red };

struct ProgressPost {
    double value;
    ProgressDelivery delivery;
};

class RecordingReporter : public WorkflowReporter {
public:
    void resetProgressInfo() override {
        pane.clear();
        events.push_back("reset");
    }
    void appendProgressInfo_Blue(const std::string& text) override {
        pane += text;
        colour = PaneColour::Blue;
        events.push_back("blue:" + text);
        if (onAppend) onAppend();
    }
    void appendProgressInfo_Red(const std::string& text) override {
        pane += text;
        colour = PaneColour::Red;
        events.push_back("red:" + text);
    }
    void updateProgressBar(double value, ProgressDelivery delivery) override {
        progress.push_back({value, delivery});
        slider = value;
    }
    void showAlert(const std::string& text) override { alerts.push_back(text); }
    void SetButtonStatus(bool enabled) override {
        buttonsEnabled = enabled;
        events.push_back(enabled ? "buttons:on" : "buttons:off");
    }
    void readFinished_FwFlash(const std::function<void()>& storeFlashContents) override {
        storeFlashContents();
        events.push_back("readFinished");
    }
    bool quitsAfterScalarSuccess() const override { return quits; }
    void quitAfterScalarSuccess() override { events.push_back("quit"); }

    std::vector<double> progressValues() const {
        std::vector<double> values;
        for (const ProgressPost& post : progress) values.push_back(post.value);
        return values;
    }

    std::string pane;
    PaneColour colour = PaneColour::None;
    double slider = 0;
    bool buttonsEnabled = true;
    bool quits = false;
    std::vector<std::string> events;
    std::vector<ProgressPost> progress;
    std::vector<std::string> alerts;
    std::function<void()> onAppend;
};

}  // namespace velmora::testing
