#include "CMirvaneCommandLine.h"

#include "TextFormat.h"

#include "platform/Process.h"

CMirvaneCommandLine::CMirvaneCommandLine(std::string line) : m_line(std::move(line))
{
    for (const std::string &word : platform::SplitArguments(m_line)) {
        if (SameTextIgnoringCase(word, kPatchSwitch)) {
            m_patch = true;
            continue;
        }
        m_passThrough += word;
        m_passThrough += ' ';
    }
}
