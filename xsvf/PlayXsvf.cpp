#include "XsvfPlayer.h"

#include "ComErrException.h"
#include "ComPort.h"
#include "JtagLink.h"
#include "JtagTransport.h"
#include "StringTable.h"
#include "TapState.h"
#include "XsvfHost.h"
#include "XsvfInterpreter.h"
#include "XsvfTrace.h"

#include <memory>

using namespace devupdate::link;
using namespace devupdate::res;

namespace devupdate::xsvf {

bool CHostJtagLink::Write(const uint8_t* data, size_t n)
{
    return m_host.ComPort().Write(data, n);
}

bool CHostJtagLink::Read(uint8_t* data, size_t n)
{
    return m_host.ComPort().Read(data, n);
}

bool CHostJtagLink::IsCancelRequested() const
{
    return m_host.IsCancelRequested();
}

namespace {

// Detaches the link from the transport however the run ends.
class CRunScope {
public:
    CRunScope(CJtagTransport& transport, CJtagLink& link) : m_transport(transport)
    {
        m_transport.BeginRun(link);
    }
    ~CRunScope() { m_transport.EndRun(); }
    CRunScope(const CRunScope&) = delete;
    CRunScope& operator=(const CRunScope&) = delete;

private:
    CJtagTransport& m_transport;
};

void TraceOutcome(CXsvfTrace& trace, const SXsvfInfo& info)
{
    if (info.errorCode == XSVF_SUCCESS) {
        trace.Write(0, "SUCCESS - Completed XSVF execution.\n");
        return;
    }
    trace.Write(0, "%s\n", XsvfTraceName(info.errorCode).c_str());
    trace.Write(0, "ERROR at or near XSVF command #%ld.  See line #%ld in the XSVF ASCII file.\n",
                static_cast<long>(info.commandCount), static_cast<long>(info.commandCount));
}

// Plays the stream with the given trace, open or not (a closed trace drops
// every line).
int PlayWithTrace(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link, CXsvfTrace& trace)
{
    trace.Write(0, "Start der Aufzeichnung\r\n\r\n");

    // 49 kB: on the heap, not on the worker thread's stack.
    const auto info = std::make_unique<SXsvfInfo>();
    InitXsvfInfo(*info);
    CRunScope scope(transport, link);
    CXsvfInterpreter interpreter(host, transport, trace, *info);
    bool brokenOff = false;
    try {
        transport.SetPin(PIN_TMS, 1, true);
        trace.Write(4, "    sizeof( SXsvfInfo ) = %d bytes\n", static_cast<int>(sizeof(SXsvfInfo)));
        info->errorCode = MoveToTapState(transport, trace, info->tapState, TAP_RESET);
        while (info->errorCode == 0 && info->complete == 0) {
            interpreter.RunXsvfCommand();
            host.UpdateProgress();
            if (host.IsCancelRequested())
                info->errorCode = XSVF_CANCELLED;
        }
    } catch (const CComErrException& e) {
        info->errorCode = e.m_code;
        brokenOff = true;
    }
    TraceOutcome(trace, *info);
    if (!brokenOff) {
        try {
            (void)transport.FinishXsvf();
        } catch (const CComErrException&) {
            // The outcome is decided; a device that misses the finish frame
            // does not change it.
        }
    }
    return info->errorCode;
}

}  // namespace

int PlayXsvf(CXsvfHost& host)
{
    CJtagTransport transport;
    return PlayXsvf(host, transport);
}

int PlayXsvf(CXsvfHost& host, CJtagTransport& transport)
{
    CHostJtagLink link(host);
    const std::string tracePath = host.TracePath();
    // The default trace keeps its plain name in the message; another names its path.
    const std::string path = tracePath.empty() ? std::string(CXsvfTrace::FILE_NAME) : tracePath;
    return PlayXsvfTracedTo(host, transport, link, path, path);
}

int PlayXsvf(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link,
             const std::string& traceDirectory)
{
    return PlayXsvfTracedTo(host, transport, link,
                            traceDirectory.empty() ? std::string(CXsvfTrace::FILE_NAME)
                                                   : traceDirectory + "/" + CXsvfTrace::FILE_NAME,
                            CXsvfTrace::FILE_NAME);
}

int PlayXsvfTracedTo(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link, const std::string& tracePath,
                     const std::string& shownName)
{
    CXsvfTrace trace;
    if (!trace.Open(tracePath)) {
        host.ShowMessageBox(TraceOpenFailureText(shownName));
        return XSVF_ERROR_DEBUGFILE;
    }
    const int result = PlayWithTrace(host, transport, link, trace);
    trace.Close();
    return result;
}

int PlayXsvfUntraced(CXsvfHost& host, CJtagTransport& transport, CJtagLink& link)
{
    CXsvfTrace closed;
    return PlayWithTrace(host, transport, link, closed);
}

}  // namespace devupdate::xsvf
