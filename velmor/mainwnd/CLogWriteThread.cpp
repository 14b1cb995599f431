#include "CLogWriteThread.h"

#include "WebQueries.h"

#include <cstdio>

CLogWriteThread::CLogWriteThread(AddressNotice onAddressDiffers)
    : m_onAddressDiffers(std::move(onAddressDiffers))
{
}

CLogWriteThread::~CLogWriteThread()
{
    Stop();
}

void CLogWriteThread::CreateThread(unsigned start, const std::string &curl)
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this, start, curl] {
        Run(start, curl);
        m_finished.store(true);
    });
}

void CLogWriteThread::Stop()
{
    m_session.Abort();
    if (m_thread.joinable())
        m_thread.join();
}

void CLogWriteThread::Run(unsigned start, std::string curl)
{
    const std::string local = GetLocalAddress();

    char query[1024];
    std::snprintf(query, sizeof query, "?flag=%u&localip=%s&connectip=%s", start, local.c_str(), curl.c_str());
    if (!m_session.OpenURL(ServiceSiteUrl("/login/inituser.jsp") + query))
        return; // the site cannot be reached: skip the address check too

    const std::string global = QueryFramedReply(m_session, ServiceSiteUrl("/login/getGlobalIP.jsp"));
    if (global == "DataError")
        return;
    if (global != local && m_onAddressDiffers)
        m_onAddressDiffers();
}
