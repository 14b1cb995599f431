#pragma once
// The outcome word the update decision raises to end its steps
// ("launch", "script", "cancel", "download", "registry", "reboot", or one
// of the endings in UpdateTexts.h). Thrown and caught inside
// CUpdateDecision::Run alone; it never leaves the decision.
#include <string>
#include <utility>

class CUpdateOutcome {
public:
    explicit CUpdateOutcome(std::string text) : m_text(std::move(text)) {}
    const std::string &Text() const { return m_text; }
    bool Is(const char *text) const { return m_text == text; }

private:
    std::string m_text;
};
