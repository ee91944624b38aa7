// A reporter that shows nothing, for measurements where the pane's lines would
// only cost time; the flash a read brings is stored at once.
#pragma once

#include <functional>
#include <string>

#include "workflows/WorkflowReporter.h"

namespace velmora::testing {

class SilentReporter final : public WorkflowReporter {
public:
    void resetProgressInfo() override {}
    void appendProgressInfo_Blue(const std::string&) override {}
    void appendProgressInfo_Red(const std::string&) override {}
    void updateProgressBar(double, ProgressDelivery) override {}
    void showAlert(const std::string&) override {}
    void SetButtonStatus(bool) override {}
    void readFinished_FwFlash(const std::function<void()>& store) override { store(); }
};

}  // namespace velmora::testing
