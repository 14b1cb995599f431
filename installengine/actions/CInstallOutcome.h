#pragma once
// The result text an install action raises to end its item or the whole
// installation: "error" ends the installation with worker result 2,
// "cancel" with 3, "skip" only passes over the current item. Raised and
// caught inside CInstallWorker::Run alone; it never leaves the worker.
#include <string>
#include <utility>

namespace installengine {

class CInstallOutcome {
public:
    static constexpr const char *kError = "error";
    static constexpr const char *kCancel = "cancel";
    static constexpr const char *kSkip = "skip";

    explicit CInstallOutcome(std::string text) : m_text(std::move(text)) {}
    const std::string &Text() const { return m_text; }
    bool Is(const char *text) const { return m_text == text; }

private:
    std::string m_text;
};

} // namespace installengine
